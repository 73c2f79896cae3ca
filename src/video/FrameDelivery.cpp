#include "camera/CVideoClient.h"
#include "video/I420Frame.h"
#include "video/Zoom.h"

#include <libyuv/convert_argb.h>
#include <libyuv/planar_functions.h>
#include <libyuv/scale.h>

#include <new>
#include <utility>

namespace {

constexpr size_t kRecordQueueLimit = 8;

// Null when the pixels cannot be allocated; then the picture is skipped.
std::shared_ptr<Bitmap> ToBitmap(const AVFrame& frame)
{
    const int w = frame.width;
    const int h = frame.height;
    std::shared_ptr<Bitmap> image;
    try {
        image = std::make_shared<Bitmap>();
        image->pixels.resize(static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    image->width = w;
    image->height = h;
    // Full-range pictures through studio-range coefficients would lose their darkest and lightest greys.
    const bool full = frame.color_range == AVCOL_RANGE_JPEG;
    image->range = full ? ColorRange::Full : ColorRange::Limited;
    auto convert = full ? libyuv::J420ToARGB : libyuv::I420ToARGB;
    convert(frame.data[0], frame.linesize[0], frame.data[1], frame.linesize[1], frame.data[2],
            frame.linesize[2], image->pixels.data(), image->stride(), w, h);
    return image;
}

} // namespace

int CVideoClient::DeliverFrame(AVFrame* frame)
{
    if (frame == nullptr || frame->width <= 0 || frame->height <= 0)
        return -1;
    // A frame other than our own is copied in rather than adopted: the caller keeps owning it.
    if (frame != workFrame.get() && !ConvertToWork(*frame))
        return -1;

    if (!ApplyZoom(zoom.load(std::memory_order_relaxed)))
        return -1;

    std::shared_ptr<Bitmap> image = ToBitmap(*workFrame);
    if (!image)
        return -1;
    bitmap = std::move(image);
    if (frameCallback != nullptr)
        frameCallback(bitmap, callbackUser);

    if (recording.load(std::memory_order_relaxed))
        QueueRecordCopy();
    return 0;
}

bool CVideoClient::ApplyZoom(float zoomFactor)
{
    const int w = workFrame->width;
    const int h = workFrame->height;
    const std::optional<ZoomWindow> window = ComputeZoom(w, h, zoomFactor);
    if (!window)
        return true;
    if (!zoomFrame || zoomFrame->width != w || zoomFrame->height != h) {
        zoomFrame = AllocI420Frame(w, h);
        if (!zoomFrame)
            return false;
    }
    // Only the window that stays visible is scaled, straight to the picture's size.
    ScaleVisiblePart(workFrame->data[0], workFrame->linesize[0], w, h, window->zoomedWidth,
                     window->zoomedHeight, window->cropX, window->cropY, zoomFrame->data[0],
                     zoomFrame->linesize[0], w, h, zoomScratch);
    const int cw = (w + 1) / 2;
    const int ch = (h + 1) / 2;
    for (int plane = 1; plane <= 2; ++plane)
        ScaleVisiblePart(workFrame->data[plane], workFrame->linesize[plane], cw, ch,
                         (window->zoomedWidth + 1) / 2, (window->zoomedHeight + 1) / 2, window->cropX / 2,
                         window->cropY / 2, zoomFrame->data[plane], zoomFrame->linesize[plane], cw, ch,
                         zoomScratch);
    zoomFrame->color_range = workFrame->color_range;
    std::swap(workFrame, zoomFrame);
    return true;
}

void CVideoClient::QueueRecordCopy()
{
    {
        // Only this thread appends, so a count below the limit here stays below it until the append.
        std::lock_guard<std::mutex> lock(queueMutex);
        if (recordQueue.size() >= kRecordQueueLimit) {
            recordDrops.fetch_add(1, std::memory_order_relaxed);
            return;
        }
    }
    const AVFrame* source = workFrame.get();
    if (source->width != recordWidth || source->height != recordHeight) {
        // No aspect correction: the recording is always recordWidth x recordHeight.
        libyuv::I420Scale(source->data[0], source->linesize[0], source->data[1], source->linesize[1],
                          source->data[2], source->linesize[2], source->width, source->height,
                          recordFrame->data[0], recordFrame->linesize[0], recordFrame->data[1],
                          recordFrame->linesize[1], recordFrame->data[2], recordFrame->linesize[2],
                          recordWidth, recordHeight, libyuv::kFilterLinear);
        source = recordFrame.get();
    }
    FramePtr copy = AllocI420Frame(recordWidth, recordHeight);
    if (!copy)
        return;
    libyuv::I420Copy(source->data[0], source->linesize[0], source->data[1], source->linesize[1],
                     source->data[2], source->linesize[2], copy->data[0], copy->linesize[0], copy->data[1],
                     copy->linesize[1], copy->data[2], copy->linesize[2], recordWidth, recordHeight);
    copy->color_range = workFrame->color_range;
    std::lock_guard<std::mutex> lock(queueMutex);
    recordQueue.push_back(std::move(copy));
}
