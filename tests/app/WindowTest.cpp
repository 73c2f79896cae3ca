// The window without a camera: layout, button states, keys, timers, the About box, PlayBack, photos
// from pictures handed in by a thread, the fit-and-centre arithmetic, names and the command line.
#include "AppTestSupport.h"

#include "app/CAboutDlg.h"
#include "app/CVindrelApp.h"
#include "app/CommandLine.h"
#include "app/DialogUnits.h"
#include "app/FitPicture.h"
#include "app/MyCStatic.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QLabel>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include <thread>

using namespace apptest;

class UrlCatcher : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> urls;
  public slots:
    void open(const QUrl& url) { urls.append(url); }
};

class WindowTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir m_dir;
    std::unique_ptr<CVindrelDlg> m_dialog;

    CVindrelDlg& NewDialog() {
        m_dialog = std::make_unique<CVindrelDlg>(CVindrelDlg::Options{NoCameraConfig(), {}});
        return *m_dialog;
    }
    QLabel* ZoomLabel() const { return m_dialog->findChild<QLabel*>(QString::number(ControlId::ZoomLabel)); }

  private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir::setCurrent(m_dir.path()));
        // The window finishes recordings it finds in TMPDIR/vindrel: never a user's.
        qputenv("TMPDIR", m_dir.path().toLocal8Bit());
    }

    void cleanup() { m_dialog.reset(); }

    // Wrong ids, captions or a layout that ignores the font would show here.
    void layoutFollowsTheTemplate() {
        CVindrelDlg& dialog = NewDialog();
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Vindrel 2.1"));
        const DialogUnits du(dialog.font());
        QVERIFY(du.baseX() > 2 && du.baseY() > 6);
        struct Row {
            int id;
            const char* caption;
            QRect units;
        };
        const Row rows[] = {{ControlId::Start, "Start", {486, 46, 50, 14}},
                            {ControlId::Stop, "Stop", {485, 75, 50, 14}},
                            {ControlId::TakePhoto, "Take Photo", {485, 102, 50, 14}},
                            {ControlId::Record, "Record", {484, 132, 50, 14}},
                            {ControlId::PlayBack, "PlayBack", {484, 164, 50, 14}}};
        for (const Row& row : rows) {
            QPushButton* button = Button(dialog, row.id);
            QVERIFY(button);
            QCOMPARE(button->text(), QString::fromLatin1(row.caption));
            QCOMPARE(button->geometry(),
                     du.Rect(row.units.x(), row.units.y(), row.units.width(), row.units.height()));
        }
        QCOMPARE(dialog.videoView()->geometry(), du.Rect(16, 15, 441, 304));
        QCOMPARE(ZoomLabel()->geometry(), du.Rect(474, 282, 66, 30));
        QCOMPARE(dialog.size(), QSize(du.X(550), du.Y(337)));
        QVERIFY(ZoomLabel()->text().isEmpty());
        QCOMPARE(ZoomLabel()->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QCOMPARE(ZoomLabel()->font().weight(), QFont::DemiBold);
        QCOMPARE(ButtonStates(dialog), kAfterCreation);
        // The media folder is made at initialisation under the current directory.
        QCOMPARE(QString::fromStdString(dialog.mediaPath()), QDir::current().absoluteFilePath("media") + "/");
        QVERIFY(QDir(QString::fromStdString(dialog.mediaPath())).exists());
    }

    void dialogUnitsRoundLikeWindows() {
        const DialogUnits du(6, 13);
        QCOMPARE(du.X(4), 6);
        QCOMPARE(du.X(550), 825);
        QCOMPARE(du.X(1), 2); // 1.5 rounds up
        QCOMPARE(du.Y(8), 13);
        QCOMPARE(du.Y(337), 548); // 547.625
        QCOMPARE(du.Y(1), 2);     // 1.625
    }

    // Start without a camera still flips the buttons; Stop then brings them back without calling the client.
    void buttonStatesWithoutCamera() {
        CVindrelDlg& dialog = NewDialog();
        dialog.show();
        QTest::mouseClick(Button(dialog, ControlId::Start), Qt::LeftButton);
        QCOMPARE(dialog.client()->running.load(), 0);
        QCOMPARE(ButtonStates(dialog), kAfterStart);
        QCOMPARE(ZoomLabel()->text(), QStringLiteral("x 1.0"));
        QVERIFY(dialog.timerActive(kZoomTimer));
        // The read-out goes 800 ms after it was set.
        QTRY_VERIFY_WITH_TIMEOUT(ZoomLabel()->text().isEmpty(), 3000);
        QVERIFY(!dialog.timerActive(kZoomTimer));

        QTest::mouseClick(Button(dialog, ControlId::Stop), Qt::LeftButton);
        QCOMPARE(ButtonStates(dialog), kAfterCreation);
        QCOMPARE(Button(dialog, ControlId::Record)->text(), QStringLiteral("Record"));
        QVERIFY(!dialog.timerActive(kBlinkTimer));
        QVERIFY(ZoomLabel()->text().isEmpty());

        // Again, through the handlers directly: a second Start while stopped behaves the same.
        dialog.OnBnClickedStart();
        QCOMPARE(ButtonStates(dialog), kAfterStart);
        dialog.OnBnClickedStop();
        QCOMPARE(ButtonStates(dialog), kAfterCreation);
    }

    void enterDoesNothing() {
        CVindrelDlg& dialog = NewDialog();
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QPushButton* start = Button(dialog, ControlId::Start);
        start->setFocus();
        QTest::keyClick(start, Qt::Key_Return);
        QTest::keyClick(&dialog, Qt::Key_Enter);
        QTest::keyClick(&dialog, Qt::Key_Return);
        QVERIFY(dialog.isVisible());
        QVERIFY(dialog.client());
        QCOMPARE(ButtonStates(dialog), kAfterCreation);
    }

    // Esc goes through OnCancel: the client is stopped and gone, Record is reset, the window has closed.
    void escapeClosesThroughOnCancel() {
        CVindrelDlg& dialog = NewDialog();
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.OnBnClickedStart();
        dialog.OnTimer(kBlinkTimer);
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(dialog.client() == nullptr);
        QCOMPARE(Button(dialog, ControlId::Record)->text(), QStringLiteral("Record"));
        QCOMPARE(Button(dialog, ControlId::Record)->palette().color(QPalette::ButtonText), QColor(0, 0, 0));
        // Handlers after close find no client and do nothing.
        dialog.OnBnClickedStart();
        dialog.OnMouseWheel(120);
        dialog.OnBnClickedTakePhoto();
    }

    void closeBoxClosesThroughOnCancel() {
        CVindrelDlg& dialog = NewDialog();
        dialog.show();
        QVERIFY(dialog.close());
        QVERIFY(dialog.client() == nullptr);
    }

    void blinkTimerAlternatesRedAndBlack() {
        CVindrelDlg& dialog = NewDialog();
        QPushButton* record = Button(dialog, ControlId::Record);
        QVERIFY(!dialog.blinkOn());
        dialog.OnTimer(kBlinkTimer);
        QVERIFY(dialog.blinkOn());
        QCOMPARE(record->palette().color(QPalette::ButtonText), QColor(255, 0, 0));
        dialog.OnTimer(kBlinkTimer);
        QCOMPARE(record->palette().color(QPalette::ButtonText), QColor(0, 0, 0));
    }

    // While stopped the wheel changes nothing even over the video area; the mouse rule follows moves.
    void wheelWhileStoppedChangesNothing() {
        CVindrelDlg& dialog = NewDialog();
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::mouseMove(dialog.videoView(), dialog.videoView()->rect().center());
        QTRY_VERIFY(dialog.mouseOverVideo());
        dialog.OnMouseWheel(120);
        QCOMPARE(dialog.zoom(), 1.0f);
        QVERIFY(ZoomLabel()->text().isEmpty());
        QTest::mouseMove(Button(dialog, ControlId::Start), QPoint(5, 5));
        QTRY_VERIFY(!dialog.mouseOverVideo());
        QTest::mouseMove(dialog.videoView(), QPoint(3, 3));
        QTRY_VERIFY(dialog.mouseOverVideo());
        QTest::mouseMove(&dialog, QPoint(2, 2));
        QTRY_VERIFY(!dialog.mouseOverVideo());
    }

    void fitAndCentre_data() {
        QTest::addColumn<int>("pw");
        QTest::addColumn<int>("ph");
        QTest::addColumn<int>("areaWidth");
        QTest::addColumn<int>("areaHeight");
        QTest::addColumn<QRect>("expected");
        // The two worked examples.
        QTest::newRow("4:3 in 662x494") << 640 << 480 << 662 << 494 << QRect(2, 0, 658, 494);
        QTest::newRow("16:9 in 662x494") << 1280 << 720 << 662 << 494 << QRect(0, 61, 662, 372);
        QTest::newRow("4:3 in 16:9") << 640 << 480 << 1280 << 720 << QRect(160, 0, 960, 720);
        QTest::newRow("16:9 in 4:3") << 1280 << 720 << 640 << 480 << QRect(0, 60, 640, 360);
        QTest::newRow("16:9 in 16:9") << 1920 << 1080 << 640 << 360 << QRect(0, 0, 640, 360);
        QTest::newRow("4:3 in 4:3") << 320 << 240 << 800 << 600 << QRect(0, 0, 800, 600);
        QTest::newRow("16:9 in odd 4:3") << 1920 << 1080 << 801 << 601 << QRect(0, 75, 801, 450);
        QTest::newRow("4:3 in odd 16:9") << 640 << 480 << 1281 << 721 << QRect(160, 0, 961, 721);
        QTest::newRow("empty picture") << 0 << 480 << 662 << 494 << QRect(0, 0, 0, 0);
        QTest::newRow("empty area") << 640 << 480 << 0 << 494 << QRect(0, 0, 0, 0);
    }

    void fitAndCentre() {
        QFETCH(int, pw);
        QFETCH(int, ph);
        QFETCH(int, areaWidth);
        QFETCH(int, areaHeight);
        QFETCH(QRect, expected);
        const FitRect fit = FitPicture(pw, ph, areaWidth, areaHeight);
        QCOMPARE(QRect(fit.x, fit.y, fit.width, fit.height), expected);
    }

    // The view draws the picture into exactly the fitted rectangle and leaves the bands around it alone.
    void viewPaintsIntoTheFittedRectangle() {
        MyCStatic view;
        view.resize(662, 494);
        auto bitmap = std::make_shared<Bitmap>();
        bitmap->width = 1280;
        bitmap->height = 720;
        bitmap->pixels.assign(size_t(1280) * 720 * 4, 0);
        for (size_t i = 0; i < bitmap->pixels.size(); i += 4) {
            bitmap->pixels[i + 2] = 255; // red
            bitmap->pixels[i + 3] = 255;
        }
        view.SetPicture(bitmap);
        QImage canvas(view.size(), QImage::Format_RGB32);
        canvas.fill(Qt::white);
        view.render(&canvas, QPoint(), QRegion(), QWidget::RenderFlags());
        QCOMPARE(view.picturesPainted(), uint64_t(1));
        QCOMPARE(QColor(canvas.pixel(331, 61)), QColor(Qt::red));
        QCOMPARE(QColor(canvas.pixel(331, 432)), QColor(Qt::red));
        QCOMPARE(QColor(canvas.pixel(331, 60)), QColor(Qt::white));
        QCOMPARE(QColor(canvas.pixel(331, 433)), QColor(Qt::white));
        QCOMPARE(QColor(canvas.pixel(0, 0)), QColor(Qt::black)); // the frame
    }

    void aboutBoxFromSystemCommandAndF1() {
        CVindrelDlg& dialog = NewDialog();
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QString title;
        CloseModalSoon(&title);
        dialog.OnSysCommand(kIdmAboutBox);
        QCOMPARE(title, QStringLiteral("关于 Vindrel"));
        title.clear();
        CloseModalSoon(&title);
        QTest::keyClick(&dialog, Qt::Key_F1);
        QCOMPARE(title, QStringLiteral("关于 Vindrel"));

        CAboutDlg about;
        QStringList texts;
        for (QLabel* label : about.findChildren<QLabel*>())
            texts << label->text();
        QVERIFY(texts.contains(QStringLiteral("Vindrel，1.0 版")));
        QCOMPARE(about.okButton()->text(), QStringLiteral("确定"));
    }

    void playBackOpensTheMediaFolder() {
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        CVindrelDlg& dialog = NewDialog();
        QTest::mouseClick(Button(dialog, ControlId::PlayBack), Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(catcher.urls.size(), 1);
        QCOMPARE(catcher.urls.front().toLocalFile(), QString::fromStdString(dialog.mediaPath()));
    }

    void takePhotoBeforeTheFirstPictureWritesNothing() {
        CVindrelDlg& dialog = NewDialog();
        const QStringList before = MediaFiles(dialog);
        dialog.OnBnClickedStart();
        QTest::mouseClick(Button(dialog, ControlId::TakePhoto), Qt::LeftButton);
        QCOMPARE(MediaFiles(dialog), before);
        QVERIFY(dialog.lastPhotoPath().empty());
    }

    // Pictures come from another thread as they do from the receive thread; the photo is the last one,
    // at its own size, and photos within one second all survive.
    void photosAreTheLastPictureAndNeverReplaced() {
        CVindrelDlg& dialog = NewDialog();
        const qsizetype before = MediaFiles(dialog).size();
        std::vector<BitmapPtr> pictures;
        for (int i = 0; i < 3; ++i)
            pictures.push_back(MakeBitmap(640, 480, i));
        std::thread receiver([&] {
            for (const BitmapPtr& picture : pictures)
                DisplayFrame(picture, &dialog);
        });
        receiver.join();
        QCOMPARE(dialog.SnapshotImage(), pictures.back());

        QStringList paths;
        for (int i = 0; i < 3; ++i) {
            dialog.OnBnClickedTakePhoto();
            paths << QString::fromStdString(dialog.lastPhotoPath());
        }
        QCOMPARE(MediaFiles(dialog).size(), before + 3);
        paths.removeDuplicates();
        QCOMPARE(paths.size(), 3);
        // Named by the local time; a second photo of the same second gets a numbered name.
        const QRegularExpression name(QStringLiteral("^\\d{4}_\\d\\d_\\d\\d_\\d{6}(_\\d+)?\\.jpg$"));
        for (const QString& path : paths)
            QVERIFY2(name.match(QFileInfo(path).fileName()).hasMatch(), qPrintable(path));
        for (const QString& path : paths) {
            const auto decoded = DecodeJpegFile(path.toStdString());
            QVERIFY(decoded);
            QCOMPARE(decoded->width, 640);
            QCOMPARE(decoded->height, 480);
            const double psnr = Psnr(*pictures.back(), *decoded);
            QVERIFY2(psnr > 35.0, qPrintable(QString("PSNR %1 dB").arg(psnr)));
            QVERIFY(Psnr(*pictures.front(), *decoded) < psnr - 3.0);
        }
    }

    // Many pictures while the GUI thread is busy: one repaint request, and it shows the newest picture.
    void slowScreenDropsPictures() {
        CVindrelDlg& dialog = NewDialog();
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCoreApplication::processEvents();
        const uint64_t paintedBefore = dialog.videoView()->picturesPainted();
        std::vector<BitmapPtr> pictures;
        for (int i = 0; i < 40; ++i)
            pictures.push_back(MakeBitmap(64, 48, i));
        std::thread receiver([&] {
            for (const BitmapPtr& picture : pictures)
                DisplayFrame(picture, &dialog);
        });
        receiver.join();
        QCOMPARE(dialog.picturesReceived(), uint64_t(40));
        QCoreApplication::processEvents();
        QCOMPARE(dialog.videoView()->picture(), pictures.back());
        dialog.videoView()->repaint();
        QCOMPARE(dialog.videoView()->picturesPainted(), paintedBefore + 1);
    }

    void commandLine_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("demo");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("family");
        QTest::addColumn<bool>("valid");
        QTest::newRow("none") << QStringList{} << false << "" << -1 << true;
        QTest::newRow("demo") << QStringList{"--demo"} << true << "" << -1 << true;
        QTest::newRow("camera") << QStringList{"--camera", "127.0.0.1", "--family", "9"} << false
                                << "127.0.0.1" << 9 << true;
        QTest::newRow("family first")
            << QStringList{"--family", "5", "--camera", "10.0.0.2"} << false << "10.0.0.2" << 5 << true;
        QTest::newRow("camera alone")
            << QStringList{"--camera", "127.0.0.1"} << false << "127.0.0.1" << -1 << false;
        QTest::newRow("family alone") << QStringList{"--family", "8"} << false << "" << 8 << false;
        QTest::newRow("family 7") << QStringList{"--camera", "127.0.0.1", "--family", "7"} << false
                                  << "127.0.0.1" << -1 << false;
        QTest::newRow("family text") << QStringList{"--camera", "127.0.0.1", "--family", "8x"} << false
                                     << "127.0.0.1" << -1 << false;
        QTest::newRow("host name") << QStringList{"--camera", "camera.local", "--family", "8"} << false << ""
                                   << -1 << false;
        QTest::newRow("missing value") << QStringList{"--camera"} << false << "" << -1 << false;
        QTest::newRow("demo and camera") << QStringList{"--demo", "--camera", "127.0.0.1", "--family", "8"}
                                         << true << "127.0.0.1" << 8 << false;
        QTest::newRow("unknown") << QStringList{"--fast"} << false << "" << -1 << false;
    }

    void commandLine() {
        QFETCH(QStringList, args);
        QFETCH(bool, demo);
        QFETCH(QString, host);
        QFETCH(int, family);
        QFETCH(bool, valid);
        std::vector<std::string> list;
        for (const QString& arg : args)
            list.push_back(arg.toStdString());
        const AppOptions options = ParseCommandLine(list);
        QCOMPARE(options.error.empty(), valid);
        QCOMPARE(options.demo, demo);
        QCOMPARE(QString::fromStdString(options.cameraHost), host);
        QCOMPARE(options.family, family);
    }

    // The fixed-camera link must land in the right row of the real discovery table, and dial the host.
    void fixedCameraConfigFindsTheFamily() {
        for (int family : {5, 6, 8, 9}) {
            CVideoClient client(FixedCameraConfig("127.0.0.1", family));
            client.FindCamera();
            QCOMPARE(client.family, family);
            QCOMPARE(
                client.config().Dial(client.cameraAddress.empty() ? "192.168.29.1" : client.cameraAddress),
                std::string("127.0.0.1"));
        }
    }

    void socketFailureShowsOneMessageAndNoWindow() {
        QStringList messages;
        bool windowShown = false;
        CVindrelApp::Hooks hooks;
        hooks.socketsAvailable = [] { return false; };
        hooks.showMessage = [&](const QString& text) { messages << text; };
        hooks.windowShown = [&](CVindrelDlg&) { windowShown = true; };
        CVindrelApp app(AppOptions{}, QString(), hooks);
        QCOMPARE(app.InitInstance(), 1);
        QCOMPARE(messages, QStringList{QStringLiteral("Windows 套接字初始化失败。")});
        QVERIFY(!windowShown);
    }

    // The application runs the window until it closes; closing it ends InitInstance.
    void applicationRunsTheWindowUntilItCloses() {
        bool windowShown = false;
        CVindrelApp::Hooks hooks;
        hooks.windowShown = [&](CVindrelDlg& dialog) {
            windowShown = true;
            QCOMPARE(ButtonStates(dialog), kAfterCreation);
            dialog.OnCancel();
        };
        CVindrelApp app(AppOptions{}, QString(), hooks);
        QCOMPARE(app.InitInstance(), 0);
        QVERIFY(windowShown);
    }
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
