#include "capture/CaptureTestSupport.h"
#include "capture/MediaFolder.h"
#include "capture/Recovery.h"

#include <gtest/gtest.h>

#include <libyuv.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;

namespace {

// Runs the test's stand-in for the pipeline next to a client.
class Producer {
  public:
    Producer(CVideoClient& client, int fps, AVColorRange range = AVCOL_RANGE_MPEG,
             uint8_t (*luma)(int, int) = MovingLuma)
        : thread_([this, &client, fps, range, luma] {
              ProduceFrames(client, fps, stop_, maxQueued_, range, luma);
          })
    {
    }
    ~Producer() { Join(); }
    size_t Join()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        return maxQueued_;
    }

  private:
    std::atomic<bool> stop_{false};
    size_t maxQueued_ = 0;
    std::thread thread_;
};

class RecordingTest : public ::testing::Test {
  protected:
    std::string Target(const char* name) const { return (folders.media / name).string(); }
    std::vector<std::filesystem::path> Unfinished() const { return FilesIn(UnfinishedRecordingsFolder()); }

    ScratchFolders folders;
};

void ExpectOrdinaryRecording(const std::filesystem::path& file, size_t minSamples, size_t maxSamples)
{
    SCOPED_TRACE(file.string());
    const Mp4Contents contents = ReadMp4(file);
    ASSERT_TRUE(contents.opened);
    EXPECT_EQ(contents.streams, 1);
    EXPECT_EQ(contents.codec, AV_CODEC_ID_H264);
    EXPECT_EQ(contents.profile, 77); // Main
    EXPECT_EQ(contents.width, 640);
    EXPECT_EQ(contents.height, 480);
    EXPECT_EQ(contents.timeBase.num, 1);
    EXPECT_EQ(contents.timeBase.den, 90000);
    EXPECT_EQ(MovieTimeScale(file), 90000u);
    const std::vector<std::string> boxes = TopLevelBoxes(file);
    EXPECT_NE(std::find(boxes.begin(), boxes.end(), "moov"), boxes.end());
    EXPECT_EQ(std::find(boxes.begin(), boxes.end(), "moof"), boxes.end()) << "still fragmented";

    EXPECT_GE(contents.samples.size(), minSamples);
    EXPECT_LE(contents.samples.size(), maxSamples);
    size_t sinceSync = 0;
    for (size_t i = 0; i < contents.samples.size(); ++i) {
        const Mp4Contents::Sample& s = contents.samples[i];
        EXPECT_EQ(s.duration, 4500) << i;
        EXPECT_EQ(s.dts, static_cast<int64_t>(i) * 4500) << i;
        EXPECT_TRUE(s.oneLengthPrefixedUnit) << i;
        EXPECT_EQ(s.sync, s.unitType == 0x65) << i;
        sinceSync = s.sync ? 0 : sinceSync + 1;
        EXPECT_LT(sinceSync, 20u) << "no sync sample for 20 samples at " << i;
    }
    if (!contents.samples.empty()) {
        EXPECT_TRUE(contents.samples[0].sync);
    }
}

class RecordingRateTest : public RecordingTest, public ::testing::WithParamInterface<int> {};

// The file must keep 20 pictures a second whatever the camera delivers: slow cameras repeat the last
// picture, fast ones fill the queue to its bound and lose the rest.
TEST_P(RecordingRateTest, KeepsTwentyPicturesPerSecond)
{
    const int cameraFps = GetParam();
    CVideoClient client;
    Producer producer(client, cameraFps);
    client.StartRecording(Target("rate.mp4"));
    std::this_thread::sleep_for(3100ms); // 100 ms start-up, then 3 s of pictures
    client.FinishRecording();
    const size_t maxQueued = producer.Join();

    EXPECT_LE(maxQueued, 8u);
    if (cameraFps > 20) {
        EXPECT_EQ(maxQueued, 8u);
    }
    ASSERT_EQ(FilesIn(folders.media), std::vector<std::filesystem::path>{folders.media / "rate.mp4"});
    EXPECT_TRUE(Unfinished().empty());
    ExpectOrdinaryRecording(folders.media / "rate.mp4", 45, 62);

    // The same facts as an outside tool reads them.
    const std::string file = "'" + (folders.media / "rate.mp4").string() + "'";
    const std::string stream =
        RunCommand("ffprobe -v error -select_streams v -show_entries "
                   "stream=codec_name,profile,width,height,time_base -of default=nw=1 " +
                   file);
    for (const char* expected :
         {"codec_name=h264", "profile=Main", "width=640", "height=480", "time_base=1/90000"})
        EXPECT_NE(stream.find(expected), std::string::npos) << expected << " in\n" << stream;
    std::istringstream packets(RunCommand("ffprobe -v error -select_streams v -show_entries "
                                          "packet=duration,flags -of csv=p=0 " +
                                          file));
    int count = 0;
    int keys = 0;
    for (std::string line; std::getline(packets, line); ++count) {
        EXPECT_EQ(line.rfind("4500,", 0), 0u) << line;
        keys += line.find('K') != std::string::npos;
    }
    EXPECT_GE(count, 45);
    EXPECT_GE(keys, count / 20);
}

INSTANTIATE_TEST_SUITE_P(CameraRates, RecordingRateTest, ::testing::Values(5, 60));

// A second start must not open the encoder under a running recording, and a stop in the first
// 100 ms must hold; a recording without pictures leaves no file anywhere.
TEST_F(RecordingTest, DoubleStartAndEarlyStop)
{
    CVideoClient client;
    client.StartRecording(Target("first.mp4"));
    client.StartRecording(Target("second.mp4"));
    EXPECT_EQ(client.recordPath, Target("first.mp4"));
    std::this_thread::sleep_for(20ms);
    client.recording = false; // what Stop does
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(client.recording);
    client.FinishRecording();
    EXPECT_TRUE(FilesIn(folders.media).empty());
    EXPECT_TRUE(Unfinished().empty());
}

// A stop without waiting followed at once by a new start: the new recording must wait for the old
// thread to finish with the encoder, and both files must come out whole.
TEST_F(RecordingTest, RestartWaitsForThePreviousRecording)
{
    CVideoClient client;
    Producer producer(client, 25);
    client.StartRecording(Target("one.mp4"));
    std::this_thread::sleep_for(1100ms);
    client.recording = false;
    client.StartRecording(Target("two.mp4"));
    std::this_thread::sleep_for(1100ms);
    client.FinishRecording();
    producer.Join();
    ASSERT_EQ(FilesIn(folders.media).size(), 2u);
    ExpectOrdinaryRecording(folders.media / "one.mp4", 12, 22);
    ExpectOrdinaryRecording(folders.media / "two.mp4", 12, 22);
}

// Closing the window destroys the client while it records; the file must still be finished and moved.
TEST_F(RecordingTest, DestroyingTheClientFinishesTheRecording)
{
    {
        CVideoClient client;
        Producer producer(client, 30);
        client.StartRecording(Target("closed.mp4"));
        std::this_thread::sleep_for(1100ms);
        producer.Join();
    }
    ExpectOrdinaryRecording(folders.media / "closed.mp4", 12, 24);
    EXPECT_TRUE(Unfinished().empty());
}

// The temporary folder on another file system and the final name already taken: the recording lands
// under a numbered name and the existing file is untouched.
TEST_F(RecordingTest, TakenNameOnAnotherFileSystem)
{
    if (!folders.MountTmpfs(folders.temp))
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root): " << std::strerror(errno);
    std::ofstream(folders.media / "taken.mp4") << "older recording";
    {
        CVideoClient client;
        Producer producer(client, 20);
        client.StartRecording(Target("taken.mp4"));
        std::this_thread::sleep_for(1100ms);
        client.FinishRecording();
    }
    std::ifstream old(folders.media / "taken.mp4");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), {}), "older recording");
    ExpectOrdinaryRecording(folders.media / "taken_2.mp4", 12, 22);
    EXPECT_TRUE(Unfinished().empty());
}

// A recording process killed outright: what reached the disk must come back as a playable file.
TEST_F(RecordingTest, RecoversARecordingKilledBySigkill)
{
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ready[0]);
        CVideoClient client;
        Producer producer(client, 20);
        client.StartRecording((folders.media / "killed.mp4").string());
        const char byte = 1;
        if (::write(ready[1], &byte, 1) != 1)
            ::_exit(1);
        std::this_thread::sleep_for(60s);
        ::_exit(2);
    }
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
    std::this_thread::sleep_for(3s);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_TRUE(FilesIn(folders.media).empty());

    // Beside it, what other runs may leave: a cut-short rewrite, an empty file and a foreign one.
    const std::filesystem::path folder = UnfinishedRecordingsFolder();
    std::ofstream(folder / "killed.mp4.remux") << "partial";
    std::ofstream(folder / "empty.mp4");
    std::ofstream(folder / "foreign.mp4") << "not an mp4 at all";

    EXPECT_EQ(RecoverUnfinishedRecordings(folders.media), 1);
    ExpectOrdinaryRecording(folders.media / "killed.mp4", 40, 60);
    EXPECT_GE(DecodeMp4(folders.media / "killed.mp4").size(), 40u);
    EXPECT_EQ(Unfinished(), std::vector<std::filesystem::path>{folder / "foreign.mp4"});
}

uint8_t GreyBands(int x, int)
{
    static const uint8_t levels[] = {0, 16, 40, 100, 128, 200, 235, 255};
    return levels[x / 80];
}

class RecordingRangeTest : public RecordingTest, public ::testing::WithParamInterface<AVColorRange> {};

// JPEG cameras deliver full-range pictures; without the range in the stream, players would crush
// the dark greys and clip the light ones. Decoded as a player does, the greys must match the picture
// that was recorded, converted the way the live view converts it.
TEST_P(RecordingRangeTest, GreyLevelsSurvive)
{
    const AVColorRange range = GetParam();
    {
        CVideoClient client;
        Producer producer(client, 20, range, GreyBands);
        client.StartRecording(Target("grey.mp4"));
        std::this_thread::sleep_for(1100ms);
        client.FinishRecording();
    }
    std::vector<FramePtr> pictures = DecodeMp4(folders.media / "grey.mp4");
    ASSERT_GE(pictures.size(), 10u);
    const AVFrame& decoded = *pictures.back();
    const bool decodedFull = decoded.color_range == AVCOL_RANGE_JPEG;
    EXPECT_EQ(decodedFull, range == AVCOL_RANGE_JPEG);

    auto toArgb = [](const AVFrame& f, bool full) {
        std::vector<uint8_t> argb(640 * 480 * 4);
        auto convert = full ? libyuv::J420ToARGB : libyuv::I420ToARGB;
        convert(f.data[0], f.linesize[0], f.data[1], f.linesize[1], f.data[2], f.linesize[2], argb.data(),
                640 * 4, 640, 480);
        return argb;
    };
    FramePtr input = MakeRecordFrame(0, range, GreyBands);
    const std::vector<uint8_t> live = toArgb(*input, range == AVCOL_RANGE_JPEG);
    const std::vector<uint8_t> played = toArgb(decoded, decodedFull);
    av_freep(&input->data[0]);
    for (int band = 0; band < 8; ++band) {
        const size_t at = (240 * 640 + band * 80 + 40) * 4;
        for (int channel = 0; channel < 3; ++channel)
            EXPECT_NEAR(played[at + channel], live[at + channel], 4)
                << "band " << band << " channel " << channel;
    }
}

INSTANTIATE_TEST_SUITE_P(Ranges, RecordingRangeTest, ::testing::Values(AVCOL_RANGE_JPEG, AVCOL_RANGE_MPEG));

} // namespace

namespace {

struct LiveView {
    std::mutex mutex;
    BitmapPtr newest;
    static void OnFrame(BitmapPtr bitmap, void* user)
    {
        auto* view = static_cast<LiveView*>(user);
        std::lock_guard<std::mutex> lock(view->mutex);
        view->newest = std::move(bitmap);
    }
};

// End to end through the real pipeline hand-off: a full-range picture as the JPEG decoder gives it goes
// through DeliverFrame to the view and into the recording; the recording, decoded as a player does,
// must show the greys of the live bitmap.
TEST_F(RecordingTest, RecordingLooksLikeTheLiveView)
{
    LiveView view;
    FramePtr picture = MakeRecordFrame(0, AVCOL_RANGE_JPEG, GreyBands);
    picture->format = AV_PIX_FMT_YUVJ420P;
    {
        CVideoClient client;
        client.frameCallback = &LiveView::OnFrame;
        client.callbackUser = &view;
        std::atomic<bool> stop{false};
        std::thread receiver([&] {
            while (!stop) {
                client.DeliverFrame(picture.get());
                std::this_thread::sleep_for(50ms);
            }
        });
        client.StartRecording(Target("live.mp4"));
        std::this_thread::sleep_for(1100ms);
        client.FinishRecording();
        stop = true;
        receiver.join();
    }
    av_freep(&picture->data[0]);
    ASSERT_TRUE(view.newest);
    const Bitmap& live = *view.newest;
    ASSERT_EQ(live.width, 640);

    std::vector<FramePtr> pictures = DecodeMp4(folders.media / "live.mp4");
    ASSERT_GE(pictures.size(), 10u);
    const AVFrame& decoded = *pictures.back();
    std::vector<uint8_t> played(640 * 480 * 4);
    auto convert = decoded.color_range == AVCOL_RANGE_JPEG ? libyuv::J420ToARGB : libyuv::I420ToARGB;
    convert(decoded.data[0], decoded.linesize[0], decoded.data[1], decoded.linesize[1], decoded.data[2],
            decoded.linesize[2], played.data(), 640 * 4, 640, 480);
    for (int band = 0; band < 8; ++band) {
        const int x = band * 80 + 40;
        for (int channel = 0; channel < 3; ++channel)
            EXPECT_NEAR(played[(240 * 640 + x) * 4 + channel], live.row(240)[x * 4 + channel], 4)
                << "band " << band << " channel " << channel;
    }
}

} // namespace
