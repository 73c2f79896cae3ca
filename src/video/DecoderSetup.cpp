#include "camera/CVideoClient.h"
#include "video/I420Frame.h"

extern "C" {
#include <libavutil/log.h>
}

namespace {

// No input may make the decoder allocate pictures larger than this, nor longer than this on one side.
constexpr int64_t kMaxPictureSide = 8192;

} // namespace

void CVideoClient::SetupH264Decoder()
{
    SetupDecoder(AV_CODEC_ID_H264);
}

void CVideoClient::SetupMjpegDecoder()
{
    SetupDecoder(AV_CODEC_ID_MJPEG);
}

void CVideoClient::SetupDecoder(AVCodecID id)
{
    // A decoder of the other kind could never decode this stream, so it is replaced.
    if (!codecContext || codecContext->codec_id != id) {
        CreateDecoder(id);
        return;
    }
    EnsureWorkFrames(codecContext->width, codecContext->height);
}

void CVideoClient::CreateDecoder(AVCodecID id)
{
    av_log_set_level(AV_LOG_QUIET);
    codecContext.reset();
    parser.reset();
    codec = nullptr;
    if (!decodedFrame)
        decodedFrame.reset(av_frame_alloc());

    const AVCodec* found = avcodec_find_decoder(id);
    CodecContextPtr context(found != nullptr ? avcodec_alloc_context3(found) : nullptr);
    ParserPtr newParser(id == AV_CODEC_ID_H264 ? av_parser_init(id) : nullptr);
    if (!decodedFrame || !context || (id == AV_CODEC_ID_H264 && !newParser))
        return;
    context->codec_id = id;
    context->pix_fmt = id == AV_CODEC_ID_H264 ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_YUVJ422P;
    context->time_base = AVRational{1, 1};
    context->max_pixels = kMaxPictureSide * kMaxPictureSide;
    // A JPEG whose data breaks off would otherwise be shown with its missing part filled in; each
    // picture stands alone, so dropping it loses nothing else.
    if (id == AV_CODEC_ID_MJPEG)
        context->err_recognition |= AV_EF_EXPLODE;
    if (avcodec_open2(context.get(), found, nullptr) < 0)
        return;
    // Only a complete set goes into the client, so a missing object is never used.
    codec = found;
    codecContext = std::move(context);
    parser = std::move(newParser);
}

bool CVideoClient::EnsureWorkFrames(int width, int height)
{
    // libyuv's scalers overflow their fixed-point positions on very long sides, so such pictures stop here.
    if (width <= 0 || height <= 0 || width > kMaxPictureSide || height > kMaxPictureSide)
        return false;
    if (workFrame && workFrame->width == width && workFrame->height == height && recordFrame)
        return true;
    workFrame.reset();
    recordFrame.reset();
    zoomFrame.reset();
    workPixelFormat = AV_PIX_FMT_YUV420P;
    FramePtr work = AllocI420Frame(width, height);
    FramePtr record = AllocI420Frame(recordWidth, recordHeight);
    if (!work || !record)
        return false;
    workFrame = std::move(work);
    recordFrame = std::move(record);
    return true;
}
