#include "video/Zoom.h"

#include "support/JpegFixtures.h"
#include "video/PipelineHarness.h"

#include <gtest/gtest.h>
#include <libyuv/convert.h>
#include <libyuv/scale.h>
#include <libyuv/video_common.h>

#include <array>
#include <cmath>
#include <limits>

namespace {

struct ZoomCase {
    int width, height;
    float zoom;
    int zoomedWidth, zoomedHeight, cropX, cropY;
};

// The enlarged sizes and crop offsets that the picture on screen depends on.
constexpr ZoomCase kWorkedExamples[] = {
    {640, 480, 1.5f, 960, 720, 160, 120},
    {640, 480, 1.1f, 704, 528, 32, 24},
    {1280, 720, 1.1f, 1408, 792, 64, 36},
    {480, 270, 1.5f, 720, 404, 120, 68},
};

// Scales the whole picture up and crops the centre back out: the picture the zoom must reproduce.
std::array<std::vector<uint8_t>, 3> ScaleThenCrop(const std::array<std::vector<uint8_t>, 3>& planes, int w,
                                                  int h, const ZoomWindow& z)
{
    const int zw = z.zoomedWidth;
    const int zh = z.zoomedHeight;
    const int cw = (w + 1) / 2;
    std::vector<uint8_t> scaled(static_cast<size_t>(zw) * zh * 3 / 2);
    uint8_t* sy = scaled.data();
    uint8_t* su = sy + static_cast<size_t>(zw) * zh;
    uint8_t* sv = su + static_cast<size_t>(zw / 2) * (zh / 2);
    libyuv::I420Scale(planes[0].data(), w, planes[1].data(), cw, planes[2].data(), cw, w, h, sy, zw, su,
                      zw / 2, sv, zw / 2, zw, zh, libyuv::kFilterBilinear);
    std::array<std::vector<uint8_t>, 3> out{std::vector<uint8_t>(static_cast<size_t>(w) * h),
                                            std::vector<uint8_t>(static_cast<size_t>(cw) * ((h + 1) / 2)),
                                            std::vector<uint8_t>(static_cast<size_t>(cw) * ((h + 1) / 2))};
    libyuv::ConvertToI420(scaled.data(), scaled.size(), out[0].data(), w, out[1].data(), cw, out[2].data(),
                          cw, z.cropX, z.cropY, zw, zh, w, h, libyuv::kRotate0, libyuv::FOURCC_I420);
    return out;
}

std::array<std::vector<uint8_t>, 3> Planes(const AVFrame& frame)
{
    return {PlaneOf(frame, 0), PlaneOf(frame, 1), PlaneOf(frame, 2)};
}

// The unzoomed picture of a scene JPEG and the one delivered at the given zoom.
struct ZoomRun {
    std::array<std::vector<uint8_t>, 3> plain, zoomed;
    int bitmapWidth = 0, bitmapHeight = 0;
};

ZoomRun RunZoom(int w, int h, float zoom)
{
    const std::vector<uint8_t> jpeg = MakeJpeg(w, h, AV_PIX_FMT_YUVJ420P, ScenePainter(w, h));
    Pipeline pipeline;
    ZoomRun run;
    pipeline.Decode(jpeg);
    run.plain = Planes(*pipeline.client.workFrame);
    pipeline.client.zoom = zoom;
    pipeline.Decode(jpeg);
    run.zoomed = Planes(*pipeline.client.workFrame);
    EXPECT_EQ(pipeline.calls, 2);
    if (pipeline.last) {
        run.bitmapWidth = pipeline.last->width;
        run.bitmapHeight = pipeline.last->height;
    }
    return run;
}

} // namespace

TEST(Zoom, WorkedExamplesGiveTheirSizesAndOffsets)
{
    for (const ZoomCase& c : kWorkedExamples) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " at " << c.zoom);
        const std::optional<ZoomWindow> z = ComputeZoom(c.width, c.height, c.zoom);
        ASSERT_TRUE(z.has_value());
        EXPECT_EQ(z->zoomedWidth, c.zoomedWidth);
        EXPECT_EQ(z->zoomedHeight, c.zoomedHeight);
        EXPECT_EQ(z->cropX, c.cropX);
        EXPECT_EQ(z->cropY, c.cropY);
    }
}

// Factors that mean "no zoom", and pictures too small for the crop window (47 pixels at 1.1 zooms to
// 48, two short of the window): all shown as they are.
TEST(Zoom, NoZoomCases)
{
    struct Case {
        int width, height;
        float zoom;
        bool zoomed;
    };
    const Case cases[] = {
        {640, 480, 1.0f, false},
        {640, 480, 1.005f, false},
        {640, 480, 1.01f, true},
        {640, 480, 0.5f, false},
        {640, 480, 0.0f, false},
        {640, 480, -2.0f, false},
        {640, 480, std::numeric_limits<float>::quiet_NaN(), false},
        {640, 480, std::numeric_limits<float>::infinity(), false},
        {47, 47, 1.1f, false},
        {48, 48, 1.1f, true},
        {640, 47, 1.1f, false},
        {0, 480, 1.5f, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " at " << c.zoom);
        EXPECT_EQ(ComputeZoom(c.width, c.height, c.zoom).has_value(), c.zoomed);
    }
}

// Scaling only the visible part must give the picture of scaling everything and cropping.
TEST(Zoom, ZoomedPictureMatchesScaleThenCrop)
{
    for (const ZoomCase& c : kWorkedExamples) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " at " << c.zoom);
        const ZoomRun run = RunZoom(c.width, c.height, c.zoom);
        const auto expected =
            ScaleThenCrop(run.plain, c.width, c.height, *ComputeZoom(c.width, c.height, c.zoom));
        for (int plane = 0; plane < 3; ++plane)
            EXPECT_LE(MeanAbsDiff(run.zoomed[plane], expected[plane]), 1.0) << "plane " << plane;
        // The zoom really happened: the picture differs from the unzoomed one.
        EXPECT_GT(MeanAbsDiff(run.zoomed[0], run.plain[0]), 5.0);
        EXPECT_EQ(run.bitmapWidth, c.width);
        EXPECT_EQ(run.bitmapHeight, c.height);
    }
}

TEST(Zoom, UnzoomedPicturesReachTheBitmapUnchanged)
{
    struct Case {
        int width, height;
        float zoom;
    };
    for (const Case& c : {Case{640, 480, 1.0f}, Case{640, 480, 1.005f}, Case{47, 47, 1.1f}}) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " at " << c.zoom);
        const ZoomRun run = RunZoom(c.width, c.height, c.zoom);
        for (int plane = 0; plane < 3; ++plane)
            EXPECT_EQ(run.zoomed[plane], run.plain[plane]);
    }
}
