#include "video/Zoom.h"

#include <libyuv/planar_functions.h>
#include <libyuv/scale.h>

#include <algorithm>
#include <cmath>

std::optional<ZoomWindow> ComputeZoom(int width, int height, float zoom)
{
    // Bounded so that the float to int conversions below stay defined.
    if (width <= 0 || height <= 0 || !std::isfinite(zoom) || zoom <= 0.0f || zoom > 64.0f)
        return std::nullopt;
    if (static_cast<int>(zoom * 100.0f) == 100)
        return std::nullopt;
    ZoomWindow window;
    window.zoomedWidth = static_cast<int>(static_cast<float>(width) * zoom) / 4 * 4;
    window.zoomedHeight = static_cast<int>(static_cast<float>(height) * zoom) / 4 * 4;
    // The half-difference rounded up to an even number, so the chroma planes crop on whole samples.
    window.cropX = ((window.zoomedWidth / 2 - width / 2) + 1) / 2 * 2;
    window.cropY = ((window.zoomedHeight / 2 - height / 2) + 1) / 2 * 2;
    if (window.cropX < 0 || window.cropY < 0 || window.cropX + width > window.zoomedWidth ||
        window.cropY + height > window.zoomedHeight)
        return std::nullopt;
    return window;
}

namespace {

// How one axis of the visible part is made: source samples start .. start+length-1 are enlarged to
// target samples, of which offset .. offset+out-1 are kept.
struct AxisPlan {
    int start = 0;
    int length = 1;
    int target = 1;
    int offset = 0;
};

// A few target samples more than needed buy freedom to place the samples much closer to where the
// full enlargement puts them than whole source positions alone allow.
constexpr int kMaxExtraSamples = 32;

// The scaler maps the end samples of source and target onto each other when it enlarges, so target
// sample j of a span reads position start + j * (length - 1) / (target - 1). The position error is
// linear along the kept samples, so the plan with the smallest error at both ends wins.
AxisPlan PlanAxis(int source, int zoomed, int crop, int out)
{
    AxisPlan best;
    best.length = std::max(1, std::min(source, out));
    best.target = out;
    if (source <= 1 || zoomed <= 1 || out <= 1)
        return best;
    const double step = static_cast<double>(source - 1) / (zoomed - 1);
    const double first = crop * step;
    const double last = first + step * (out - 1);
    double bestError = 1e9;
    for (int extra = 0; extra <= kMaxExtraSamples; ++extra) {
        const int target = out + extra;
        const int length = static_cast<int>(std::lround(step * (target - 1))) + 1;
        if (length < 2 || length > source)
            continue;
        const double slope = static_cast<double>(length - 1) / (target - 1);
        for (int offset = 0; offset <= extra; ++offset) {
            const int start = static_cast<int>(std::lround(first - offset * slope));
            if (start < 0 || start + length > source)
                continue;
            const double error = std::max(std::abs(start + offset * slope - first),
                                          std::abs(start + (offset + out - 1) * slope - last));
            if (error < bestError - 1e-9) {
                bestError = error;
                best = {start, length, target, offset};
            }
        }
    }
    return best;
}

} // namespace

void ScaleVisiblePart(const uint8_t* src, int srcStride, int srcWidth, int srcHeight, int zoomedWidth,
                      int zoomedHeight, int cropX, int cropY, uint8_t* dst, int dstStride, int dstWidth,
                      int dstHeight, std::vector<uint8_t>& scratch)
{
    const AxisPlan x = PlanAxis(srcWidth, zoomedWidth, cropX, dstWidth);
    const AxisPlan y = PlanAxis(srcHeight, zoomedHeight, cropY, dstHeight);
    const uint8_t* from = src + static_cast<ptrdiff_t>(y.start) * srcStride + x.start;
    if (x.target == dstWidth && y.target == dstHeight) {
        libyuv::ScalePlane(from, srcStride, x.length, y.length, dst, dstStride, dstWidth, dstHeight,
                           libyuv::kFilterBilinear);
        return;
    }
    scratch.resize(static_cast<size_t>(x.target) * static_cast<size_t>(y.target));
    libyuv::ScalePlane(from, srcStride, x.length, y.length, scratch.data(), x.target, x.target, y.target,
                       libyuv::kFilterBilinear);
    libyuv::CopyPlane(scratch.data() + static_cast<ptrdiff_t>(y.offset) * x.target + x.offset, x.target, dst,
                      dstStride, dstWidth, dstHeight);
}
