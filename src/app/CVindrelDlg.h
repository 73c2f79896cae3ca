#pragma once

#include "camera/CVideoClient.h"
#include "camera/LinkConfig.h"
#include "video/Bitmap.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QFont>
#include <QIcon>
#include <QString>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class CAboutDlg;
class InstanceMarker;
class MyCStatic;
class QLabel;
class QPushButton;

// Control ids of the window template; each widget carries its id as objectName.
namespace ControlId {
inline constexpr int Start = 1000;
inline constexpr int Stop = 1001;
inline constexpr int VideoArea = 1003;
inline constexpr int TakePhoto = 1004;
inline constexpr int Record = 1005;
inline constexpr int PlayBack = 1006;
inline constexpr int ZoomLabel = 1007;
} // namespace ControlId

inline constexpr unsigned kIdmAboutBox = 0x0010;
inline constexpr int kBlinkTimer = 1;
inline constexpr int kZoomTimer = 2;

// The receive thread's frame callback: keeps the newest picture and asks the GUI thread to show it.
void DisplayFrame(BitmapPtr bitmap, void* user);

// The main window. Everything here runs on the GUI thread except DisplayFrame.
class CVindrelDlg : public QDialog {
    Q_OBJECT
  public:
    struct Options {
        LinkConfig link;
        // Name of the single-instance marker; empty for none (tests).
        QString instanceName;
    };

    explicit CVindrelDlg(Options options, QWidget* parent = nullptr);
    ~CVindrelDlg() override;

    // Handlers, named after the window messages they stand for.
    void OnBnClickedStart();
    void OnBnClickedStop();
    void OnBnClickedTakePhoto();
    void OnBnClickedRecord();
    void OnBnClickedPlayBack();
    void OnSysCommand(unsigned nID);
    void OnTimer(int nIDEvent);
    void OnMouseMove(const QPoint& point);
    void OnMouseWheel(int zDelta);
    void OnOK() {}
    void OnCancel();
    // Brings the window forward for a second copy of the program: restored, raised and centred.
    void ActivateFromSecondCopy();

    // Called by DisplayFrame on the receive thread.
    void ReceiveFrame(BitmapPtr bitmap);

    // For tests and diagnostics.
    CVideoClient* client() const { return m_client.get(); }
    float zoom() const { return m_zoom; }
    bool mouseOverVideo() const { return m_mouseOverVideo; }
    bool blinkOn() const { return m_blinkOn; }
    const std::string& mediaPath() const { return m_mediaPath; }
    MyCStatic* videoView() const { return m_videoView; }
    BitmapPtr SnapshotImage() const;
    // Pictures handed over by the receive thread so far.
    uint64_t picturesReceived() const { return m_picturesReceived.load(); }
    bool timerActive(int nIDEvent) const;
    // The path of the last photo written, empty when none was.
    const std::string& lastPhotoPath() const { return m_lastPhotoPath; }
    // True until the start-up recovery of unfinished recordings has ended; then how many it moved.
    bool recovering() const { return m_recovering; }
    int recoveredRecordings() const { return m_recoveredRecordings; }
    // True while a Record click waits for the start-up recovery before it starts the recording.
    bool recordingPending() const { return !m_pendingRecordPath.empty(); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void reject() override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void BuildControls();
    void OnInitDialog();
    void ShowZoom();
    void SetRecordButtonText(const QString& text, const QColor& colour);
    void ShowNewestPicture();
    void OnWheelTurned(int zDelta);
    void StartRecovery();
    void OnRecoveryFinished(int moved);
    void JoinRecovery();

    LinkConfig m_linkConfig;
    QString m_instanceName;

    // Created in OnInitDialog, destroyed in OnCancel (or by the destructor when the window never closed).
    std::unique_ptr<CVideoClient> m_client;
    QIcon m_hIcon;
    MyCStatic* m_videoView = nullptr;
    std::string m_mediaPath;
    QPushButton* m_btnStart = nullptr;
    QPushButton* m_btnStop = nullptr;
    QPushButton* m_btnRecord = nullptr;
    QPushButton* m_btnTakePhoto = nullptr;
    QPushButton* m_btnPlayBack = nullptr;
    bool m_blinkOn = false;
    bool m_mouseOverVideo = false;
    float m_zoom = 1.0f;
    QLabel* m_zoomLabel = nullptr;
    QFont m_labelFont;
    QTimer m_blinkTimer; // timer 1
    QTimer m_zoomTimer;  // timer 2
    std::unique_ptr<InstanceMarker> m_marker;
    std::string m_lastPhotoPath;
    // Time from Start to the first picture shown, for the diagnostic line.
    QElapsedTimer m_startClock;
    bool m_awaitingFirstPicture = false;

    // The newest picture: written by the receive thread, read by painting and Take Photo.
    mutable std::mutex m_snapshotMutex;
    BitmapPtr snapshotImage; // guarded by m_snapshotMutex
    // Set while a repaint request is queued, so that a slow screen drops pictures instead of piling up.
    std::atomic<bool> m_repaintPending{false};
    std::atomic<uint64_t> m_picturesReceived{0};

    // Finishes recordings an earlier run left behind; started by OnInitDialog, joined when the window
    // closes. GUI thread state: m_recovering until its result has arrived here.
    std::thread m_recoveryThread;
    bool m_recovering = false;
    int m_recoveredRecordings = 0;
    // Media path of a recording whose start waits for the recovery to end; empty when none waits.
    std::string m_pendingRecordPath;
};
