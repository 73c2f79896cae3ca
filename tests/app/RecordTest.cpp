// Recording from the window with the simulator as the camera: Record and Stop, a quick double click,
// closing while recording, and the start-up recovery of a recording whose process was killed. Each test
// runs in a folder of its own with its own TMPDIR, so the recovery never meets another run's files.
#include "AppTestSupport.h"
#include "StreamingWindow.h"

#include "camsim/CameraSimulator.h"
#include "capture/CaptureTestSupport.h"
#include "capture/Recovery.h"
#include "support/FreePort.h"

#include <QRegularExpression>
#include <QTest>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;
using namespace apptest;

namespace {

// Set in the environment of the child that records until it is killed; holds the recording's path.
constexpr char kRecordingChild[] = "VINDREL_TEST_RECORDING_CHILD";

// The child: a client fed by a stand-in for the pipeline at 20 pictures a second, never finishing.
[[noreturn]] void RecordUntilKilled(const char* finalPath) {
    CVideoClient client;
    std::atomic<bool> stop{false};
    size_t maxQueued = 0;
    std::thread producer([&] { ProduceFrames(client, 20, stop, maxQueued); });
    client.StartRecording(finalPath);
    std::printf("recording\n");
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(60));
    // Only reached when the parent is gone; no destructor may finish the file.
    std::_Exit(2);
}

} // namespace

class RecordTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir m_root;
    fs::path m_work;
    std::unique_ptr<camsim::CameraSimulator> m_camera;
    std::unique_ptr<CVindrelDlg> m_dialog;

    fs::path Media() const { return m_work / "media"; }

    QPushButton* Record() const { return Button(*m_dialog, ControlId::Record); }
    void ClickRecord() { QTest::mouseClick(Record(), Qt::LeftButton); }

    CVindrelDlg& StreamingDialog() {
        m_dialog = OpenStreamingWindow(m_camera);
        return *m_dialog;
    }

    void ExpectRecordButtonIdle() {
        QCOMPARE(Record()->text(), QStringLiteral("Record"));
        QCOMPARE(Record()->palette().color(QPalette::ButtonText), QColor(0, 0, 0));
        QVERIFY(!m_dialog->timerActive(kBlinkTimer));
    }

    // One H.264 track of 640x480 with more than minSamples samples, all of which decode.
    static void ExpectPlayable(const fs::path& file, size_t minSamples) {
        const Mp4Contents mp4 = ReadMp4(file);
        QVERIFY2(mp4.opened, file.c_str());
        QCOMPARE(mp4.streams, 1);
        QCOMPARE(mp4.codec, AV_CODEC_ID_H264);
        QCOMPARE(mp4.width, 640);
        QCOMPARE(mp4.height, 480);
        QVERIFY2(mp4.samples.size() > minSamples, qPrintable(QString::number(mp4.samples.size())));
        QCOMPARE(DecodeMp4(file).size(), mp4.samples.size());
    }

  private slots:
    void initTestCase() { QVERIFY(m_root.isValid()); }

    void init() {
        m_work = fs::path(m_root.path().toStdString()) / QTest::currentTestFunction();
        fs::create_directories(m_work / "tmp");
        QVERIFY(QDir::setCurrent(QString::fromStdString(m_work.string())));
        qputenv("TMPDIR", QByteArray::fromStdString((m_work / "tmp").string()));
    }

    void cleanup() {
        m_dialog.reset();
        m_camera.reset();
        QDir::setCurrent(m_root.path());
    }

    // About two seconds of the stream, stopped with the button: one playable file, named by the time,
    // and nothing left in the temporary folder.
    void recordThenStop() {
        CVindrelDlg& dialog = StreamingDialog();
        QTRY_VERIFY_WITH_TIMEOUT(dialog.picturesReceived() >= 3, 10000);
        QTRY_VERIFY(!dialog.recovering());
        ClickRecord();
        QVERIFY(dialog.client()->recording);
        QCOMPARE(Record()->text(), QStringLiteral("Recording"));
        QVERIFY(dialog.timerActive(kBlinkTimer));
        QTRY_VERIFY_WITH_TIMEOUT(Record()->palette().color(QPalette::ButtonText) == QColor(255, 0, 0), 3000);
        QTest::qWait(2000);

        ClickRecord();
        QVERIFY(!dialog.client()->recording);
        ExpectRecordButtonIdle();
        QTRY_COMPARE_WITH_TIMEOUT(FilesIn(Media()).size(), size_t(1), 10000);
        dialog.client()->FinishRecording(); // the thread has let go of everything
        const fs::path file = FilesIn(Media()).front();
        QVERIFY(QRegularExpression(R"(^\d{4}_\d\d_\d\d_\d{6}\.mp4$)")
                    .match(QString::fromStdString(file.filename().string()))
                    .hasMatch());
        ExpectPlayable(file, 30);
        QVERIFY(FilesIn(UnfinishedRecordingsFolder()).empty());
    }

    // A double click in the thread's first 100 ms stops the recording for good and leaves no file; a
    // click right after that starts a fresh one, which waits for the first thread to end.
    void quickDoubleClickThenRecordAgain() {
        CVindrelDlg& dialog = StreamingDialog();
        QTRY_VERIFY_WITH_TIMEOUT(dialog.picturesReceived() >= 3, 10000);
        QTRY_VERIFY(!dialog.recovering());
        ClickRecord();
        ClickRecord();
        QVERIFY(!dialog.client()->recording);
        ExpectRecordButtonIdle();
        QTest::qWait(300); // past the moment the thread would have raised the flag itself
        QVERIFY(!dialog.client()->recording);

        ClickRecord();
        ClickRecord();
        ClickRecord();
        QVERIFY(dialog.client()->recording);
        QTest::qWait(1500);
        ClickRecord();
        dialog.client()->FinishRecording();
        const std::vector<fs::path> files = FilesIn(Media());
        QCOMPARE(files.size(), size_t(1));
        ExpectPlayable(files.front(), 20);
        QVERIFY(FilesIn(UnfinishedRecordingsFolder()).empty());
    }

    // Closing the window while recording: once it has closed, the file is finished and in place.
    void closeWhileRecording() {
        CVindrelDlg& dialog = StreamingDialog();
        QTRY_VERIFY_WITH_TIMEOUT(dialog.picturesReceived() >= 3, 10000);
        QTRY_VERIFY(!dialog.recovering());
        ClickRecord();
        QTest::qWait(1500);
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(dialog.client() == nullptr);
        ExpectRecordButtonIdle();
        const std::vector<fs::path> files = FilesIn(Media());
        QCOMPARE(files.size(), size_t(1));
        ExpectPlayable(files.front(), 20);
        QVERIFY(FilesIn(UnfinishedRecordingsFolder()).empty());
    }

    // A recording process killed three seconds in: the next window finishes its file and moves it into
    // the media folder, while a recording started at once, before the recovery can have ended, comes
    // out whole beside it.
    void startUpRecoversAKilledRecording() {
        // The child is spawned rather than forked through QProcess: the thread sanitizer cannot follow a
        // fork of a process whose threads run. TMPDIR is already this test's.
        int output[2];
        QCOMPARE(::pipe2(output, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
        const std::string exe = QCoreApplication::applicationFilePath().toStdString();
        std::string marker = std::string(kRecordingChild) + "=" + (Media() / "killed.mp4").string();
        std::vector<char*> env;
        for (char** entry = environ; *entry != nullptr; ++entry)
            env.push_back(*entry);
        env.push_back(marker.data());
        env.push_back(nullptr);
        char* const args[] = {const_cast<char*>(exe.c_str()), nullptr};
        pid_t child = -1;
        const int spawned = ::posix_spawn(&child, exe.c_str(), &actions, nullptr, args, env.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(output[1]);
        QCOMPARE(spawned, 0);
        std::string said;
        char chunk[64];
        ssize_t n = 0;
        while (said.find("recording") == std::string::npos &&
               (n = ::read(output[0], chunk, sizeof chunk)) > 0)
            said.append(chunk, static_cast<size_t>(n));
        ::close(output[0]);
        QTest::qWait(3000);
        ::kill(child, SIGKILL);
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFSIGNALED(status));
        QVERIFY2(said.find("recording") != std::string::npos, said.c_str());
        const fs::path left = UnfinishedRecordingsFolder() / "killed.mp4";
        QVERIFY(fs::exists(left));
        QVERIFY(!fs::exists(Media()));

        CVindrelDlg& dialog = StreamingDialog();
        ClickRecord();
        QCOMPARE(Record()->text(), QStringLiteral("Recording"));
        // The event loop has not run since the window was made, so the recovery's end cannot have
        // arrived: the start waits for it.
        QVERIFY(dialog.recovering());
        QVERIFY(dialog.recordingPending());
        QVERIFY(!dialog.client()->recording);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.recovering(), 20000);
        QCOMPARE(dialog.recoveredRecordings(), 1);
        QVERIFY(dialog.client()->recording);
        QVERIFY(!dialog.recordingPending());
        QTest::qWait(1500);
        ClickRecord();
        dialog.client()->FinishRecording();

        QVERIFY(!fs::exists(left));
        ExpectPlayable(Media() / "killed.mp4", 40);
        std::vector<fs::path> files = FilesIn(Media());
        QCOMPARE(files.size(), size_t(2));
        std::erase(files, Media() / "killed.mp4");
        QCOMPARE(files.size(), size_t(1));
        ExpectPlayable(files.front(), 15);
        QVERIFY(FilesIn(UnfinishedRecordingsFolder()).empty());
    }
};

int main(int argc, char** argv) {
    // The same executable serves as the recording process that the recovery test kills.
    if (const char* path = std::getenv(kRecordingChild))
        RecordUntilKilled(path);
    QApplication app(argc, argv);
    RecordTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "RecordTest.moc"
