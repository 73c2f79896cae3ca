#include "support/H264Fixtures.h"
#include "support/JpegFixtures.h"
#include "video/PipelineHarness.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <random>

namespace {

std::vector<uint8_t> Scene(int w, int h)
{
    return MakeJpeg(w, h, AV_PIX_FMT_YUVJ422P, ScenePainter(w, h));
}

long PeakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

TEST(DecoderSetup, WorkingPicturesComeWithTheFirstPicture)
{
    Pipeline pipeline;
    ASSERT_TRUE(pipeline.client.codecContext);
    EXPECT_EQ(pipeline.client.codecContext->codec_id, AV_CODEC_ID_MJPEG);
    EXPECT_FALSE(pipeline.client.parser);
    EXPECT_FALSE(pipeline.client.workFrame);
    EXPECT_FALSE(pipeline.client.recordFrame);
    pipeline.Decode(Scene(320, 240));
    ASSERT_TRUE(pipeline.client.workFrame);
    EXPECT_EQ(pipeline.client.workFrame->width, 320);
    ASSERT_TRUE(pipeline.client.recordFrame);
    EXPECT_EQ(pipeline.client.recordFrame->width, 640);
    EXPECT_EQ(pipeline.client.recordFrame->height, 480);
}

// A size change re-creates both working pictures once; pictures of unchanged size allocate nothing,
// and a later setup call (as a second Start makes) keeps the decoder and the pictures.
TEST(DecoderSetup, SizeChangeRecreatesOnceAndSecondStartKeepsDecoder)
{
    Pipeline pipeline;
    CVideoClient& client = pipeline.client;
    pipeline.Decode(Scene(1280, 720));
    ASSERT_EQ(client.workFrame->width, 1280);
    const std::vector<uint8_t> small = Scene(640, 480);
    pipeline.Decode(small);
    ASSERT_EQ(client.workFrame->width, 640);
    ASSERT_EQ(client.workFrame->height, 480);
    ASSERT_TRUE(client.recordFrame);
    const AVFrame* work = client.workFrame.get();
    const uint8_t* workPixels = client.workFrame->data[0];
    const AVFrame* record = client.recordFrame.get();
    const AVCodecContext* context = client.codecContext.get();

    pipeline.Decode(small);
    client.SetupMjpegDecoder();
    pipeline.Decode(small);
    EXPECT_EQ(pipeline.calls, 4);
    EXPECT_EQ(client.workFrame.get(), work);
    EXPECT_EQ(client.workFrame->data[0], workPixels);
    EXPECT_EQ(client.recordFrame.get(), record);
    EXPECT_EQ(client.codecContext.get(), context);
    EXPECT_EQ(client.workPixelFormat, AV_PIX_FMT_YUV420P);
}

// A Start for a camera of the other kind replaces the decoder, which could never decode the new stream.
TEST(DecoderSetup, DecoderKindChangeReplacesTheDecoder)
{
    Pipeline pipeline;
    CVideoClient& client = pipeline.client;
    pipeline.Decode(Scene(320, 240));
    ASSERT_EQ(pipeline.calls, 1);

    client.SetupH264Decoder();
    ASSERT_TRUE(client.codecContext);
    EXPECT_EQ(client.codecContext->codec_id, AV_CODEC_ID_H264);
    EXPECT_TRUE(client.parser);
    const FramePtr picture = PaintPicture(320, 240, AV_PIX_FMT_YUV420P, ScenePainter(320, 240));
    const auto units = EncodeH264({picture.get()});
    pipeline.Decode(units.at(0));
    EXPECT_EQ(pipeline.calls, 2);

    client.SetupMjpegDecoder();
    EXPECT_EQ(client.codecContext->codec_id, AV_CODEC_ID_MJPEG);
    EXPECT_FALSE(client.parser);
    pipeline.Decode(Scene(320, 240));
    EXPECT_EQ(pipeline.calls, 3);
}

// Hostile bytes: no crash, no picture, bounded memory, and the decoder still works afterwards.
TEST(DecoderSetup, BadJpegsAreDroppedCleanly)
{
    const std::vector<uint8_t> good = Scene(320, 240);
    std::vector<std::vector<uint8_t>> bad;
    std::mt19937 random(7);
    std::vector<uint8_t> noise(20000);
    for (uint8_t& b : noise)
        b = static_cast<uint8_t>(random());
    bad.push_back(noise);
    noise[0] = 0xFF;
    noise[1] = 0xD8;
    bad.push_back(noise);
    for (size_t length : {size_t{1}, size_t{2}, size_t{20}, size_t{300}})
        bad.emplace_back(good.begin(), good.begin() + static_cast<ptrdiff_t>(length));

    // A header that claims 60000 x 60000 pixels, which would need gigabytes.
    std::vector<uint8_t> huge = good;
    for (size_t i = 0; i + 8 < huge.size(); ++i)
        if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
            huge[i + 5] = 0xEA; // height 60000
            huge[i + 6] = 0x60;
            huge[i + 7] = 0xEA; // width 60000
            huge[i + 8] = 0x60;
            break;
        }
    ASSERT_NE(huge, good);
    bad.push_back(huge);
    // Few pixels but one very long side: libyuv's scalers overflow on such pictures.
    bad.push_back(MakeJpeg(64, 9000, AV_PIX_FMT_YUVJ422P, ScenePainter(64, 9000)));

    Pipeline pipeline;
    const long peakBefore = PeakRssKb();
    for (size_t i = 0; i < bad.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "input " << i);
        pipeline.Decode(bad[i]);
        EXPECT_EQ(pipeline.calls, 0);
    }
    EXPECT_LT(PeakRssKb() - peakBefore, 256 * 1024);
    pipeline.Decode(good);
    EXPECT_EQ(pipeline.calls, 1);
}

// A picture cut short keeps the decoder usable; what it shows of the cut picture is the decoder's affair.
TEST(DecoderSetup, TruncatedJpegsLeaveTheDecoderUsable)
{
    const std::vector<uint8_t> good = Scene(320, 240);
    Pipeline pipeline;
    for (size_t length : {good.size() / 4, good.size() / 2, good.size() - 2}) {
        pipeline.Decode(std::vector<uint8_t>(good.begin(), good.begin() + static_cast<ptrdiff_t>(length)));
    }
    const int before = pipeline.calls;
    pipeline.Decode(good);
    EXPECT_EQ(pipeline.calls, before + 1);
    EXPECT_EQ(pipeline.client.workFrame->width, 320);
}
