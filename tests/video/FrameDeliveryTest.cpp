#include "support/JpegFixtures.h"
#include "video/PipelineHarness.h"

#include <gtest/gtest.h>
#include <libyuv/scale.h>

namespace {

std::vector<uint8_t> Scene(int w, int h)
{
    return MakeJpeg(w, h, AV_PIX_FMT_YUVJ422P, ScenePainter(w, h));
}

std::vector<uint8_t> FlatGrey(int w, int h, uint8_t level)
{
    return MakeJpeg(w, h, AV_PIX_FMT_YUVJ420P, [level](int, int) { return Rgb{level, level, level}; });
}

void ExpectRecordLayout(const AVFrame& frame)
{
    EXPECT_EQ(frame.format, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(frame.width, 640);
    EXPECT_EQ(frame.height, 480);
    EXPECT_EQ(frame.linesize[0], 640);
    EXPECT_EQ(frame.linesize[1], 320);
    EXPECT_EQ(frame.linesize[2], 320);
    EXPECT_EQ(frame.color_range, AVCOL_RANGE_JPEG);
}

} // namespace

// A 640x480 stream is copied as it is; a 1280x720 stream is squeezed to 640x480 with linear filtering.
TEST(FrameDelivery, RecordCopiesAreRecordSized)
{
    for (const auto& [w, h] : {std::pair{640, 480}, std::pair{1280, 720}}) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        Pipeline pipeline;
        pipeline.client.recording = true;
        pipeline.Decode(Scene(w, h));
        ASSERT_EQ(pipeline.calls, 1);
        ASSERT_EQ(pipeline.client.recordQueue.size(), 1u);
        const AVFrame& queued = *pipeline.client.recordQueue.front();
        ExpectRecordLayout(queued);

        const AVFrame& work = *pipeline.client.workFrame;
        FramePtr expected = PaintPicture(640, 480, AV_PIX_FMT_YUV420P, [](int, int) { return Rgb{0, 0, 0}; });
        libyuv::I420Scale(work.data[0], work.linesize[0], work.data[1], work.linesize[1], work.data[2],
                          work.linesize[2], w, h, expected->data[0], expected->linesize[0], expected->data[1],
                          expected->linesize[1], expected->data[2], expected->linesize[2], 640, 480,
                          libyuv::kFilterLinear);
        for (int plane = 0; plane < 3; ++plane)
            EXPECT_EQ(PlaneOf(queued, plane), PlaneOf(*expected, plane)) << "plane " << plane;
    }
}

// The recording shows what the screen shows, zoom included.
TEST(FrameDelivery, RecordCopyIsZoomed)
{
    Pipeline pipeline;
    pipeline.client.recording = true;
    pipeline.client.zoom = 1.5f;
    pipeline.Decode(Scene(640, 480));
    ASSERT_EQ(pipeline.client.recordQueue.size(), 1u);
    EXPECT_EQ(PlaneOf(*pipeline.client.recordQueue.front(), 0), PlaneOf(*pipeline.client.workFrame, 0));
}

// With 8 frames queued the newest picture is still shown but left out of the recording (and counted);
// the queued ones stay, in order.
TEST(FrameDelivery, FullRecordQueueDropsTheNewest)
{
    Pipeline pipeline;
    pipeline.client.recording = true;
    for (int i = 0; i < 10; ++i)
        pipeline.Decode(FlatGrey(640, 480, static_cast<uint8_t>(20 * i)));
    EXPECT_EQ(pipeline.calls, 10);
    ASSERT_EQ(pipeline.client.recordQueue.size(), 8u);
    EXPECT_EQ(pipeline.client.recordDrops, 2u);
    for (size_t i = 0; i < 8; ++i)
        EXPECT_NEAR(pipeline.client.recordQueue[i]->data[0][0], 20 * i, 2) << "frame " << i;
}

TEST(FrameDelivery, EmptyPictureIsRefused)
{
    for (const auto& [w, h] : {std::pair{0, 480}, std::pair{640, 0}}) {
        Pipeline pipeline;
        pipeline.client.recording = true;
        FramePtr frame(av_frame_alloc());
        frame->format = AV_PIX_FMT_YUV420P;
        frame->width = w;
        frame->height = h;
        EXPECT_EQ(pipeline.client.DeliverFrame(frame.get()), -1);
        EXPECT_EQ(pipeline.client.DeliverFrame(nullptr), -1);
        EXPECT_EQ(pipeline.calls, 0);
        EXPECT_FALSE(pipeline.client.bitmap);
        EXPECT_TRUE(pipeline.client.recordQueue.empty());
    }
}

// A frame that is not workFrame is copied in; the caller still owns it.
TEST(FrameDelivery, ForeignFrameIsCopiedIn)
{
    Pipeline pipeline;
    FramePtr frame = PaintPicture(96, 64, AV_PIX_FMT_YUV420P, [](int x, int) {
        return Rgb{uint8_t(x), 90, 30};
    });
    EXPECT_EQ(pipeline.client.DeliverFrame(frame.get()), 0);
    EXPECT_EQ(pipeline.calls, 1);
    ASSERT_NE(pipeline.client.workFrame.get(), frame.get());
    EXPECT_EQ(PlaneOf(*pipeline.client.workFrame, 0), PlaneOf(*frame, 0));
    EXPECT_EQ(pipeline.last->range, ColorRange::Limited);
}

TEST(FrameDelivery, NoCallbackStillMakesBitmapAndQueues)
{
    Pipeline pipeline;
    pipeline.client.frameCallback = nullptr;
    pipeline.client.recording = true;
    pipeline.Decode(Scene(640, 480));
    ASSERT_TRUE(pipeline.client.bitmap);
    EXPECT_EQ(pipeline.client.bitmap->width, 640);
    EXPECT_EQ(pipeline.client.recordQueue.size(), 1u);
}

// An empty packet must never reach the decoder: it would end the stream for good.
TEST(FrameDecode, ZeroLengthLeavesDecoderUsable)
{
    Pipeline pipeline;
    const std::vector<uint8_t> jpeg = Scene(320, 240);
    std::vector<uint8_t> buffer(64);
    pipeline.client.DecodeFrame(jpeg.data(), 0);
    pipeline.client.DecodeFrame(nullptr, 0);
    pipeline.client.DecodeFrame(buffer.data(), 0, static_cast<int>(buffer.size()));
    pipeline.client.DecodeFrame(jpeg.data(), -5);
    EXPECT_EQ(pipeline.calls, 0);
    pipeline.Decode(jpeg);
    EXPECT_EQ(pipeline.calls, 1);
}

// Pictures handed over in larger buffers get their stale tail zeroed in place when there is room, and
// decode like a fresh copy whether or not there is room.
TEST(FrameDecode, PaddingIsZeroedInPlaceWhenThereIsRoom)
{
    const std::vector<uint8_t> jpeg = Scene(320, 240);
    Pipeline reference;
    reference.Decode(jpeg);
    ASSERT_EQ(reference.calls, 1);

    const int size = static_cast<int>(jpeg.size());
    for (int room : {0, AV_INPUT_BUFFER_PADDING_SIZE - 1, AV_INPUT_BUFFER_PADDING_SIZE, 4096}) {
        SCOPED_TRACE(testing::Message() << "room " << room);
        std::vector<uint8_t> buffer(jpeg);
        buffer.resize(jpeg.size() + static_cast<size_t>(room), 0xFF);
        Pipeline pipeline;
        pipeline.client.DecodeFrame(buffer.data(), size, static_cast<int>(buffer.size()));
        ASSERT_EQ(pipeline.calls, 1);
        EXPECT_EQ(pipeline.last->pixels, reference.last->pixels);
        const bool inPlace = room >= AV_INPUT_BUFFER_PADDING_SIZE;
        for (int i = 0; i < room; ++i) {
            const uint8_t expected = inPlace && i < AV_INPUT_BUFFER_PADDING_SIZE ? 0 : 0xFF;
            ASSERT_EQ(buffer[static_cast<size_t>(size + i)], expected) << "byte " << i;
        }
    }
}
