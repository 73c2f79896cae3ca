// The window with the camera simulator as its camera: pictures arrive, zoom steps, photos, Esc while
// streaming.
#include "AppTestSupport.h"
#include "StreamingWindow.h"

#include "app/MyCStatic.h"
#include "camsim/CameraSimulator.h"
#include "camsim/TestPattern.h"
#include "support/FreePort.h"

#include <QLabel>
#include <QSpontaneKeyEvent>
#include <QTest>

using namespace apptest;

class StreamTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir m_dir;
    std::unique_ptr<camsim::CameraSimulator> m_camera;
    std::unique_ptr<CVindrelDlg> m_dialog;

    QLabel* ZoomLabel() const { return m_dialog->findChild<QLabel*>(QString::number(ControlId::ZoomLabel)); }

    CVindrelDlg& StreamingDialog() {
        m_dialog = OpenStreamingWindow(m_camera);
        return *m_dialog;
    }

    void MoveMouseOverVideo() {
        QTest::mouseMove(m_dialog->videoView(), m_dialog->videoView()->rect().center());
        QTRY_VERIFY(m_dialog->mouseOverVideo());
    }

    // A wheel event as the window system delivers it: to the widget under the mouse, passed up to the
    // window when that widget ignores it.
    static void SendWheel(QWidget* target, int zDelta, int horizontal = 0) {
        const QPointF local(4, 4);
        QWheelEvent wheel(local, target->mapToGlobal(local), QPoint(), QPoint(horizontal, zDelta),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QSpontaneKeyEvent::setSpontaneous(&wheel);
        QApplication::sendEvent(target, &wheel);
    }

    void Wheel(int steps, int zDelta) {
        for (int i = 0; i < steps; ++i)
            m_dialog->OnMouseWheel(zDelta);
    }

  private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir::setCurrent(m_dir.path()));
        // The window finishes recordings it finds in TMPDIR/vindrel: never a user's.
        qputenv("TMPDIR", m_dir.path().toLocal8Bit());
    }

    void cleanup() {
        m_dialog.reset();
        m_camera.reset();
    }

    // Pictures reach the view on the GUI thread, and what it shows is what the camera sent.
    void picturesReachTheView() {
        CVindrelDlg& dialog = StreamingDialog();
        QCOMPARE(dialog.client()->running.load(), 1);
        QCOMPARE(ButtonStates(dialog), kAfterStart);
        QTRY_VERIFY_WITH_TIMEOUT(dialog.videoView()->picturesPainted() >= 5, 10000);
        const BitmapPtr shown = dialog.videoView()->picture();
        QVERIFY(shown);
        QCOMPARE(shown->width, 640);
        QCOMPARE(shown->height, 480);
        QVERIFY(camsim::ReadFrameNumber(shown->pixels.data(), shown->stride(), shown->width, shown->height) >=
                0);

        QTest::mouseClick(Button(dialog, ControlId::Stop), Qt::LeftButton);
        QCOMPARE(dialog.client()->running.load(), 0);
        QCOMPARE(ButtonStates(dialog), kAfterCreation);
        // The last picture stays for a photo after Stop.
        QVERIFY(dialog.SnapshotImage());
    }

    // Single-precision steps of 0.1 with clamping at 3.0 and 1.0; the client gets each value.
    void zoomSteps() {
        CVindrelDlg& dialog = StreamingDialog();
        MoveMouseOverVideo();
        Wheel(5, 120);
        QCOMPARE(ZoomLabel()->text(), QStringLiteral("x 1.5"));
        QVERIFY(dialog.timerActive(kZoomTimer));
        QVERIFY(qAbs(dialog.client()->zoom.load() - 1.5f) < 1e-5f);

        float expected = 1.0f;
        for (int i = 0; i < 20; ++i)
            expected = expected + 0.1f;
        QCOMPARE(expected, 2.9999993f); // the value the sums really reach
        dialog.OnBnClickedStop();
        dialog.OnBnClickedStart();
        QCOMPARE(dialog.zoom(), 1.0f);
        QCOMPARE(dialog.client()->zoom.load(), 1.0f);
        MoveMouseOverVideo();
        Wheel(20, 120);
        QCOMPARE(dialog.zoom(), expected);
        QVERIFY(dialog.zoom() < 3.0f);
        QCOMPARE(ZoomLabel()->text(), QStringLiteral("x 3.0"));
        Wheel(1, 120);
        QCOMPARE(dialog.zoom(), 3.0f);
        Wheel(3, 1);
        QCOMPARE(dialog.zoom(), 3.0f);
        QCOMPARE(dialog.client()->zoom.load(), 3.0f);

        float down = 3.0f;
        for (int i = 0; i < 20; ++i)
            down = down - 0.1f;
        Wheel(20, -120);
        QCOMPARE(dialog.zoom(), down);
        QVERIFY(down > 1.0f && static_cast<int>(down * 100) == 100);
        Wheel(1, -120);
        QCOMPARE(dialog.zoom(), 1.0f);
        ZoomLabel()->clear();
        Wheel(1, -1);
        QCOMPARE(dialog.zoom(), 1.0f);
        QCOMPARE(ZoomLabel()->text(), QStringLiteral("x 1.0")); // the read-out still shows

        // Off the video area the wheel does nothing, through real wheel events too.
        Wheel(2, 120);
        QTest::mouseMove(Button(dialog, ControlId::Stop), QPoint(4, 4));
        QTRY_VERIFY(!dialog.mouseOverVideo());
        const float held = dialog.zoom();
        SendWheel(Button(dialog, ControlId::Stop), 120);
        QCOMPARE(dialog.zoom(), held);
        MoveMouseOverVideo();
        SendWheel(dialog.videoView(), 120);
        QCOMPARE(dialog.zoom(), held + 0.1f);
        // A purely horizontal scroll is not a wheel step.
        SendWheel(dialog.videoView(), 0, 120);
        QCOMPARE(dialog.zoom(), held + 0.1f);

        // Stop empties the read-out and resets the window's zoom at once.
        dialog.OnBnClickedStop();
        QCOMPARE(dialog.zoom(), 1.0f);
        QVERIFY(ZoomLabel()->text().isEmpty());
    }

    // The photo is the newest picture at the stream's size.
    void photoIsTheShownPicture() {
        CVindrelDlg& dialog = StreamingDialog();
        QTRY_VERIFY_WITH_TIMEOUT(dialog.picturesReceived() >= 3, 10000);
        dialog.OnBnClickedStop(); // holds the picture still while the photo is compared
        const BitmapPtr last = dialog.SnapshotImage();
        QVERIFY(last);
        dialog.OnBnClickedTakePhoto();
        QVERIFY(!dialog.lastPhotoPath().empty());
        const auto decoded = DecodeJpegFile(dialog.lastPhotoPath());
        QVERIFY(decoded);
        QCOMPARE(decoded->width, last->width);
        QCOMPARE(decoded->height, last->height);
        const double psnr = Psnr(*last, *decoded);
        qInfo("photo of the stream: luma PSNR %.1f dB", psnr);
        QVERIFY2(psnr > 35.0, qPrintable(QString("PSNR %1 dB").arg(psnr)));
    }

    // Esc while streaming stops the client first: the camera hears the stream-off command and no picture
    // arrives after the window has closed.
    void escapeWhileStreaming() {
        CVindrelDlg& dialog = StreamingDialog();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTRY_VERIFY_WITH_TIMEOUT(dialog.picturesReceived() >= 2, 10000);
        const size_t commandsBefore = m_camera->commands().size();
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(!dialog.isVisible());
        QVERIFY(dialog.client() == nullptr);
        QTRY_VERIFY(m_camera->commands().size() > commandsBefore);
        QTRY_VERIFY(!m_camera->streaming());
        const uint64_t received = dialog.picturesReceived();
        QTest::qWait(200);
        QCOMPARE(dialog.picturesReceived(), received);
    }
};

QTEST_MAIN(StreamTest)
#include "StreamTest.moc"
