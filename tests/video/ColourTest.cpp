#include "support/H264Fixtures.h"
#include "support/JpegFixtures.h"
#include "video/PipelineHarness.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

const std::vector<Rgb> kColours = {
    {0, 0, 0},       // black
    {26, 26, 26},    // 10% grey: crushed towards black by studio-range coefficients on a full-range picture
    {230, 230, 230}, // 90% grey: clipped towards white the same way
    {255, 255, 255}, // white
    {255, 0, 0},     // red
    {0, 255, 0},     // green
    {0, 0, 255},     // blue
};

uint8_t Luma(Rgb c)
{
    return static_cast<uint8_t>(std::lround(0.299 * c.r + 0.587 * c.g + 0.114 * c.b));
}

// Checks the centre of each 64x64 block of the bitmap against the colour painted there.
void ExpectBlocks(const Bitmap& bitmap, bool grey, int tolerance)
{
    ASSERT_EQ(bitmap.width, 64 * static_cast<int>(kColours.size()));
    for (size_t i = 0; i < kColours.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "block " << i);
        const Rgb c = kColours[i];
        const Rgb want = grey ? Rgb{Luma(c), Luma(c), Luma(c)} : c;
        const uint8_t* px = bitmap.row(32) + (64 * i + 32) * 4;
        EXPECT_NEAR(px[0], want.b, tolerance);
        EXPECT_NEAR(px[1], want.g, tolerance);
        EXPECT_NEAR(px[2], want.r, tolerance);
        EXPECT_EQ(px[3], 255);
    }
}

} // namespace

// Every kind of JPEG a camera may send arrives with its true colours: 4:2:2 and 4:2:0, greyscale (no
// chroma planes) and 4:4:4 (full chroma planes), all decoded as full range.
TEST(Colour, JpegColoursAndGreysArriveExactly)
{
    const AVPixelFormat formats[] = {AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_GRAY8,
                                     AV_PIX_FMT_YUVJ444P};
    for (AVPixelFormat format : formats) {
        SCOPED_TRACE(static_cast<int>(format));
        Pipeline pipeline;
        pipeline.Decode(
            MakeJpeg(64 * static_cast<int>(kColours.size()), 64, format, BlocksPainter(kColours)));
        ASSERT_EQ(pipeline.calls, 1);
        EXPECT_EQ(pipeline.last->range, ColorRange::Full);
        EXPECT_EQ(pipeline.client.workFrame->color_range, AVCOL_RANGE_JPEG);
        ExpectBlocks(*pipeline.last, format == AV_PIX_FMT_GRAY8, 4);
    }
}

// A studio-range H.264 picture goes through the studio-range coefficients.
TEST(Colour, H264ColoursArriveExactly)
{
    const FramePtr picture =
        PaintPicture(64 * static_cast<int>(kColours.size()), 64, AV_PIX_FMT_YUV420P, BlocksPainter(kColours));
    const auto units = EncodeH264({picture.get()});
    ASSERT_EQ(units.size(), 1u);
    Pipeline pipeline(Pipeline::Kind::H264);
    pipeline.Decode(units[0]);
    ASSERT_EQ(pipeline.calls, 1);
    EXPECT_EQ(pipeline.last->range, ColorRange::Limited);
    ExpectBlocks(*pipeline.last, false, 5);
}
