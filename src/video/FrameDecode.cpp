#include "camera/CVideoClient.h"

#include <libyuv/convert.h>
#include <libyuv/planar_functions.h>
#include <libyuv/scale.h>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cstring>

void CVideoClient::DecodeFrame(const uint8_t* data, int size)
{
    if (data == nullptr || size <= 0)
        return;
    // The decoder reads past the end of a packet, so the picture is copied in front of zeroed padding.
    const size_t needed = static_cast<size_t>(size) + AV_INPUT_BUFFER_PADDING_SIZE;
    if (paddedInput.size() < needed)
        paddedInput.resize(needed);
    std::memcpy(paddedInput.data(), data, static_cast<size_t>(size));
    std::memset(paddedInput.data() + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    DecodePacket(paddedInput.data(), size);
}

void CVideoClient::DecodeFrame(uint8_t* data, int size, int capacity)
{
    if (data == nullptr || size <= 0)
        return;
    if (capacity < size || capacity - size < AV_INPUT_BUFFER_PADDING_SIZE) {
        DecodeFrame(static_cast<const uint8_t*>(data), size);
        return;
    }
    // The bytes after the picture are stale leftovers of the caller's buffer; the decoder may read them.
    std::memset(data + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    DecodePacket(data, size);
}

void CVideoClient::DecodePacket(uint8_t* data, int size)
{
    // An empty packet would put the decoder into draining mode for good, so it never gets here.
    if (!codecContext || !decodedFrame || size <= 0)
        return;
    if (!decodePacket)
        decodePacket.reset(av_packet_alloc());
    if (!decodePacket)
        return;
    decodePacket->data = data;
    decodePacket->size = size;
    const int sent = avcodec_send_packet(codecContext.get(), decodePacket.get());
    av_packet_unref(decodePacket.get());
    if (sent != 0)
        return;
    // One picture per packet: JPEG decoding has no delay.
    if (avcodec_receive_frame(codecContext.get(), decodedFrame.get()) != 0)
        return;
    const bool converted = ConvertDecodedToWork();
    av_frame_unref(decodedFrame.get());
    if (converted)
        DeliverFrame(workFrame.get());
}

bool CVideoClient::ConvertDecodedToWork()
{
    if (!decodedFrame || !ConvertToWork(*decodedFrame))
        return false;
    // JPEG samples always span all 256 levels, whatever the decoder reports (greyscale comes as gray8).
    if (codecContext && codecContext->codec_id == AV_CODEC_ID_MJPEG)
        workFrame->color_range = AVCOL_RANGE_JPEG;
    return true;
}

namespace {

bool IsFullRange(const AVFrame& picture)
{
    switch (picture.format) {
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUVJ444P:
    case AV_PIX_FMT_YUVJ440P:
    case AV_PIX_FMT_YUVJ411P:
        return true;
    default:
        return picture.color_range == AVCOL_RANGE_JPEG;
    }
}

// Planar 8-bit YUV of any chroma subsampling that has no dedicated routine below (4:4:0, 4:1:1):
// the luma is copied and each chroma plane scaled to half size.
bool ConvertOtherPlanar(const AVFrame& in, AVFrame& out)
{
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(in.format));
    if (desc == nullptr || desc->nb_components != 3 || (desc->flags & AV_PIX_FMT_FLAG_PLANAR) == 0 ||
        (desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BE)) != 0 ||
        desc->comp[0].depth != 8 || desc->comp[1].depth != 8 || desc->comp[2].depth != 8)
        return false;
    const int w = in.width;
    const int h = in.height;
    const int inChromaWidth = -((-w) >> desc->log2_chroma_w);
    const int inChromaHeight = -((-h) >> desc->log2_chroma_h);
    const int outChromaWidth = (w + 1) / 2;
    const int outChromaHeight = (h + 1) / 2;
    libyuv::CopyPlane(in.data[0], in.linesize[0], out.data[0], out.linesize[0], w, h);
    for (int plane = 1; plane <= 2; ++plane)
        libyuv::ScalePlane(in.data[plane], in.linesize[plane], inChromaWidth, inChromaHeight, out.data[plane],
                           out.linesize[plane], outChromaWidth, outChromaHeight, libyuv::kFilterBilinear);
    return true;
}

} // namespace

bool CVideoClient::ConvertToWork(const AVFrame& picture)
{
    const int w = picture.width;
    const int h = picture.height;
    if (picture.data[0] == nullptr || !EnsureWorkFrames(w, h))
        return false;
    AVFrame& out = *workFrame;
    const uint8_t* const* in = picture.data;
    const int* stride = picture.linesize;
    int result = 0;
    switch (picture.format) {
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUVJ420P:
        result = libyuv::I420Copy(in[0], stride[0], in[1], stride[1], in[2], stride[2], out.data[0],
                                  out.linesize[0], out.data[1], out.linesize[1], out.data[2], out.linesize[2],
                                  w, h);
        break;
    case AV_PIX_FMT_YUV422P:
    case AV_PIX_FMT_YUVJ422P:
        result = libyuv::I422ToI420(in[0], stride[0], in[1], stride[1], in[2], stride[2], out.data[0],
                                    out.linesize[0], out.data[1], out.linesize[1], out.data[2],
                                    out.linesize[2], w, h);
        break;
    case AV_PIX_FMT_YUV444P:
    case AV_PIX_FMT_YUVJ444P:
        result = libyuv::I444ToI420(in[0], stride[0], in[1], stride[1], in[2], stride[2], out.data[0],
                                    out.linesize[0], out.data[1], out.linesize[1], out.data[2],
                                    out.linesize[2], w, h);
        break;
    case AV_PIX_FMT_GRAY8:
        // Greyscale JPEGs have no chroma planes; neutral chroma keeps them grey.
        result = libyuv::I400ToI420(in[0], stride[0], out.data[0], out.linesize[0], out.data[1],
                                    out.linesize[1], out.data[2], out.linesize[2], w, h);
        break;
    default:
        if (!ConvertOtherPlanar(picture, out))
            return false;
        break;
    }
    if (result != 0)
        return false;
    out.color_range = IsFullRange(picture) ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    return true;
}
