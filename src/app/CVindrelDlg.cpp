#include "app/CVindrelDlg.h"

#include "app/AppIcon.h"
#include "app/CAboutDlg.h"
#include "app/DialogUnits.h"
#include "app/MyCStatic.h"
#include "app/SingleInstance.h"
#include "capture/MediaFolder.h"
#include "capture/Recovery.h"
#include "capture/Snapshot.h"
#include "platform/DebugPrint.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <QWheelEvent>

#include <cmath>
#include <filesystem>
#include <utility>

namespace {

constexpr int kBlinkPeriodMs = 500;
constexpr int kZoomReadoutMs = 800;
constexpr float kZoomStep = 0.1f;
// Cell height (ascent plus descent) of the zoom read-out's font, in pixels.
constexpr int kZoomFontCellHeight = 25;

QPushButton* MakeButton(QWidget* parent, int id, const QString& caption, const QRect& geometry,
                        bool enabled) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::number(id));
    button->setGeometry(geometry);
    button->setEnabled(enabled);
    // Enter must not press whichever button has the focus.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

// Arial, weight 600, scaled so that its cell (not its em) is the wanted height.
QFont ZoomLabelFont() {
    QFont font(QStringLiteral("Arial"));
    font.setWeight(QFont::DemiBold);
    font.setPixelSize(kZoomFontCellHeight);
    const int cell = QFontMetrics(font).height();
    if (cell > 0 && cell != kZoomFontCellHeight)
        font.setPixelSize(std::max(
            1, static_cast<int>(std::lround(kZoomFontCellHeight * double(kZoomFontCellHeight) / cell))));
    return font;
}

} // namespace

void DisplayFrame(BitmapPtr bitmap, void* user) {
    if (user)
        static_cast<CVindrelDlg*>(user)->ReceiveFrame(std::move(bitmap));
}

CVindrelDlg::CVindrelDlg(Options options, QWidget* parent)
    : QDialog(parent), m_linkConfig(std::move(options.link)), m_instanceName(std::move(options.instanceName)),
      m_hIcon(AppIcon()) {
    setObjectName(QStringLiteral("102"));
    setWindowTitle(QStringLiteral("Vindrel 2.1"));
    // Caption, system menu and close box; a resizable frame without minimise or maximise boxes.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFont(DialogFont());
    setMouseTracking(true);
    BuildControls();
    OnInitDialog();
}

CVindrelDlg::~CVindrelDlg() {
    // The receive thread calls into this object; it must be gone before any member is.
    if (m_client) {
        m_client->Stop();
        // The record thread uses the client until its file is finished and moved.
        m_client->FinishRecording();
        m_client.reset();
    }
    JoinRecovery();
}

void CVindrelDlg::BuildControls() {
    const DialogUnits du(font());
    resize(du.X(550), du.Y(337));

    // Template order, which is also the tab order.
    m_btnStart = MakeButton(this, ControlId::Start, QStringLiteral("Start"), du.Rect(486, 46, 50, 14), true);
    m_btnStop = MakeButton(this, ControlId::Stop, QStringLiteral("Stop"), du.Rect(485, 75, 50, 14), false);
    m_btnTakePhoto = MakeButton(this, ControlId::TakePhoto, QStringLiteral("Take Photo"),
                                du.Rect(485, 102, 50, 14), false);
    m_btnRecord =
        MakeButton(this, ControlId::Record, QStringLiteral("Record"), du.Rect(484, 132, 50, 14), false);
    m_btnPlayBack =
        MakeButton(this, ControlId::PlayBack, QStringLiteral("PlayBack"), du.Rect(484, 164, 50, 14), true);

    m_videoView = new MyCStatic(this);
    m_videoView->setObjectName(QString::number(ControlId::VideoArea));
    m_videoView->setGeometry(du.Rect(16, 15, 441, 304));

    m_zoomLabel = new QLabel(this);
    m_zoomLabel->setObjectName(QString::number(ControlId::ZoomLabel));
    m_zoomLabel->setGeometry(du.Rect(474, 282, 66, 30));
    m_zoomLabel->setAlignment(Qt::AlignCenter);
    m_zoomLabel->setTextFormat(Qt::PlainText);

    connect(m_videoView, &MyCStatic::wheelTurned, this, &CVindrelDlg::OnWheelTurned);
    connect(m_btnStart, &QPushButton::clicked, this, &CVindrelDlg::OnBnClickedStart);
    connect(m_btnStop, &QPushButton::clicked, this, &CVindrelDlg::OnBnClickedStop);
    connect(m_btnTakePhoto, &QPushButton::clicked, this, &CVindrelDlg::OnBnClickedTakePhoto);
    connect(m_btnRecord, &QPushButton::clicked, this, &CVindrelDlg::OnBnClickedRecord);
    connect(m_btnPlayBack, &QPushButton::clicked, this, &CVindrelDlg::OnBnClickedPlayBack);

    // Mouse moves over any control count for the video-area rule, not only those over the background.
    for (QWidget* child : {static_cast<QWidget*>(m_btnStart), static_cast<QWidget*>(m_btnStop),
                           static_cast<QWidget*>(m_btnTakePhoto), static_cast<QWidget*>(m_btnRecord),
                           static_cast<QWidget*>(m_btnPlayBack), static_cast<QWidget*>(m_videoView),
                           static_cast<QWidget*>(m_zoomLabel)}) {
        child->setMouseTracking(true);
        child->installEventFilter(this);
    }

    m_blinkTimer.setInterval(kBlinkPeriodMs);
    m_zoomTimer.setInterval(kZoomReadoutMs);
    connect(&m_blinkTimer, &QTimer::timeout, this, [this] { OnTimer(kBlinkTimer); });
    connect(&m_zoomTimer, &QTimer::timeout, this, [this] { OnTimer(kZoomTimer); });
}

void CVindrelDlg::OnInitDialog() {
    if (!m_instanceName.isEmpty())
        m_marker = std::make_unique<InstanceMarker>(m_instanceName, [this] { ActivateFromSecondCopy(); });

    setWindowIcon(m_hIcon);

    m_client = std::make_unique<CVideoClient>(m_linkConfig);
    m_client->frameCallback = DisplayFrame;
    m_client->callbackUser = this;

    m_mediaPath = SetUpMediaFolder();
    StartRecovery();

    m_labelFont = ZoomLabelFont();
    m_zoomLabel->setFont(m_labelFont);
    QPalette palette = m_zoomLabel->palette();
    palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    m_zoomLabel->setPalette(palette);
}

bool CVindrelDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove) {
        auto* widget = static_cast<QWidget*>(watched);
        const auto* move = static_cast<QMouseEvent*>(event);
        OnMouseMove(widget->mapTo(this, move->position().toPoint()));
    }
    return QDialog::eventFilter(watched, event);
}

void CVindrelDlg::mouseMoveEvent(QMouseEvent* event) {
    OnMouseMove(event->position().toPoint());
    QDialog::mouseMoveEvent(event);
}

void CVindrelDlg::OnMouseMove(const QPoint& point) {
    if (childAt(point) == m_videoView) {
        m_mouseOverVideo = true;
        m_videoView->setFocus(Qt::MouseFocusReason);
    } else {
        m_mouseOverVideo = false;
    }
}

void CVindrelDlg::wheelEvent(QWheelEvent* event) {
    OnWheelTurned(event->angleDelta().y());
    QDialog::wheelEvent(event);
}

void CVindrelDlg::OnWheelTurned(int zDelta) {
    // Horizontal scrolling and the empty begin/end events of touchpads are not wheel steps.
    if (zDelta != 0)
        OnMouseWheel(zDelta);
}

void CVindrelDlg::OnMouseWheel(int zDelta) {
    if (!m_client || !m_mouseOverVideo || m_client->running == 0)
        return;
    if (zDelta > 0) {
        m_zoom = m_zoom + kZoomStep;
        if (static_cast<int>(m_zoom * 100) >= 300)
            m_zoom = 3.0f;
    } else {
        m_zoom = m_zoom - kZoomStep;
        if (static_cast<int>(m_zoom * 100) < 100)
            m_zoom = 1.0f;
    }
    m_client->zoom = m_zoom;
    ShowZoom();
}

void CVindrelDlg::ShowZoom() {
    m_zoomLabel->setText(QString::asprintf("x %.1f", static_cast<double>(m_zoom)));
    m_zoomTimer.stop();
    m_zoomTimer.start(kZoomReadoutMs);
}

void CVindrelDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        OnOK();
        event->accept();
        return;
    case Qt::Key_F1:
        OnSysCommand(kIdmAboutBox);
        event->accept();
        return;
    default:
        // Esc arrives at reject(), and so at OnCancel.
        QDialog::keyPressEvent(event);
    }
}

void CVindrelDlg::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* about = menu.addAction(QStringLiteral("关于 Vindrel(&A)..."));
    connect(about, &QAction::triggered, this, [this] { OnSysCommand(kIdmAboutBox); });
    menu.exec(event->globalPos());
}

void CVindrelDlg::OnSysCommand(unsigned nID) {
    if ((nID & 0xFFF0) == kIdmAboutBox) {
        CAboutDlg about(this);
        about.exec();
    }
}

void CVindrelDlg::OnBnClickedStart() {
    if (!m_client || m_client->running != 0)
        return;
    m_zoom = 1.0f;
    ShowZoom();
    m_client->zoom = 1.0f;
    m_startClock.start();
    m_awaitingFirstPicture = true;
    m_client->Start();
    m_btnStart->setEnabled(false);
    m_btnStop->setEnabled(true);
    m_btnTakePhoto->setEnabled(true);
    m_btnRecord->setEnabled(true);
}

void CVindrelDlg::OnBnClickedStop() {
    if (!m_client)
        return;
    m_zoom = 1.0f;
    m_zoomLabel->clear();
    if (m_client->running != 0)
        m_client->Stop();
    // A recording started without a stream would otherwise go on unseen once the caption says "Record".
    if (m_client->recording)
        m_client->recording = false;
    m_pendingRecordPath.clear();
    m_awaitingFirstPicture = false;
    m_blinkTimer.stop();
    SetRecordButtonText(QStringLiteral("Record"), QColor(0, 0, 0));
    m_btnStart->setEnabled(true);
    m_btnStop->setEnabled(false);
    m_btnTakePhoto->setEnabled(false);
    m_btnRecord->setEnabled(false);
}

void CVindrelDlg::reject() {
    OnCancel();
}

void CVindrelDlg::OnCancel() {
    m_pendingRecordPath.clear();
    if (m_client) {
        m_client->Stop();
        // The record thread uses the client until its file is finished and moved.
        m_client->FinishRecording();
        m_client.reset();
    }
    JoinRecovery();
    m_blinkTimer.stop();
    SetRecordButtonText(QStringLiteral("Record"), QColor(0, 0, 0));
    m_marker.reset();
    QDialog::reject();
}

void CVindrelDlg::OnTimer(int nIDEvent) {
    switch (nIDEvent) {
    case kBlinkTimer:
        m_blinkOn = !m_blinkOn;
        SetRecordButtonText(m_btnRecord->text(), m_blinkOn ? QColor(255, 0, 0) : QColor(0, 0, 0));
        break;
    case kZoomTimer:
        m_zoomLabel->clear();
        m_zoomTimer.stop();
        break;
    default:
        break;
    }
}

bool CVindrelDlg::timerActive(int nIDEvent) const {
    if (nIDEvent == kBlinkTimer)
        return m_blinkTimer.isActive();
    if (nIDEvent == kZoomTimer)
        return m_zoomTimer.isActive();
    return false;
}

void CVindrelDlg::SetRecordButtonText(const QString& text, const QColor& colour) {
    QPalette palette = m_btnRecord->palette();
    palette.setColor(QPalette::ButtonText, colour);
    m_btnRecord->setPalette(palette);
    m_btnRecord->setText(text);
    m_btnRecord->update();
}

void CVindrelDlg::OnBnClickedRecord() {
    if (!m_client)
        return;
    // The client raises recording as it starts, so a second click, however quick, is a stop.
    if (m_client->recording || !m_pendingRecordPath.empty()) {
        // The record thread finishes and moves the file by itself.
        m_client->recording = false;
        m_pendingRecordPath.clear();
        m_blinkTimer.stop();
        SetRecordButtonText(QStringLiteral("Record"), QColor(0, 0, 0));
        return;
    }
    std::string path = MediaFileName(m_mediaPath, MediaKind::Recording);
    if (m_recovering)
        m_pendingRecordPath = std::move(path); // started by OnRecoveryFinished
    else
        m_client->StartRecording(std::move(path));
    m_btnRecord->setText(QStringLiteral("Recording"));
    m_blinkTimer.start(kBlinkPeriodMs);
}

// The recovery works in the folder where this run records too. The lock a live recording holds does
// not cover the moment its file is created nor its rewrite at the end, so no recording of this run
// starts before the recovery is over: a Record click meanwhile waits for it (the caption already says
// "Recording").
void CVindrelDlg::StartRecovery() {
    std::error_code error;
    if (m_mediaPath.empty() || !std::filesystem::is_directory(m_mediaPath, error))
        return;
    m_recovering = true;
    m_recoveryThread = std::thread([this, media = m_mediaPath] {
        const int moved = RecoverUnfinishedRecordings(media);
        // Delivered on the GUI thread; dropped with the window if it is gone by then.
        QMetaObject::invokeMethod(
            this, [this, moved] { OnRecoveryFinished(moved); }, Qt::QueuedConnection);
    });
}

void CVindrelDlg::OnRecoveryFinished(int moved) {
    JoinRecovery();
    m_recovering = false;
    m_recoveredRecordings = moved;
    if (moved > 0)
        DebugPrint("RecoveredRecordings %d", moved);
    if (!m_pendingRecordPath.empty() && m_client)
        m_client->StartRecording(std::exchange(m_pendingRecordPath, std::string()));
}

void CVindrelDlg::JoinRecovery() {
    if (m_recoveryThread.joinable())
        m_recoveryThread.join();
}

void CVindrelDlg::OnBnClickedTakePhoto() {
    if (!m_client)
        return;
    // A copy of the pointer is enough: the bitmap is immutable, so the receive thread can move on to the
    // next picture while this one is encoded.
    const BitmapPtr photo = SnapshotImage();
    if (!photo)
        return;
    const std::string path = SavePhoto(*photo, m_mediaPath);
    if (!path.empty())
        m_lastPhotoPath = path;
}

void CVindrelDlg::OnBnClickedPlayBack() {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(m_mediaPath)));
}

void CVindrelDlg::ActivateFromSecondCopy() {
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    if (!isVisible())
        show();
    // The About box, when it is open, is what the user should get back.
    QWidget* popup = QApplication::activeModalWidget();
    if (!popup || (popup != this && popup->parentWidget() != this))
        popup = this;
    raise();
    popup->raise();
    popup->activateWindow();
    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    DebugPrint("ActivateInstance");
}

void CVindrelDlg::ReceiveFrame(BitmapPtr bitmap) {
    if (!bitmap)
        return;
    BitmapPtr previous;
    {
        std::lock_guard lock(m_snapshotMutex);
        previous = std::exchange(snapshotImage, std::move(bitmap));
    }
    m_picturesReceived.fetch_add(1);
    if (!m_repaintPending.exchange(true))
        QMetaObject::invokeMethod(this, &CVindrelDlg::ShowNewestPicture, Qt::QueuedConnection);
}

void CVindrelDlg::ShowNewestPicture() {
    m_repaintPending = false;
    m_videoView->SetPicture(SnapshotImage());
    if (m_awaitingFirstPicture) {
        m_awaitingFirstPicture = false;
        DebugPrint("FirstPicture %lld ms after Start", static_cast<long long>(m_startClock.elapsed()));
    }
}

BitmapPtr CVindrelDlg::SnapshotImage() const {
    std::lock_guard lock(m_snapshotMutex);
    return snapshotImage;
}
