#include "support/JpegFixtures.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

uint8_t Clamp8(double value)
{
    return static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

struct Yuv {
    uint8_t y, u, v;
};

Yuv ToYuv(Rgb c, bool full)
{
    const double y = 0.299 * c.r + 0.587 * c.g + 0.114 * c.b;
    const double u = -0.168736 * c.r - 0.331264 * c.g + 0.5 * c.b;
    const double v = 0.5 * c.r - 0.418688 * c.g - 0.081312 * c.b;
    if (full)
        return {Clamp8(y), Clamp8(128 + u), Clamp8(128 + v)};
    return {Clamp8(16 + y * 219.0 / 255.0), Clamp8(128 + u * 224.0 / 255.0), Clamp8(128 + v * 224.0 / 255.0)};
}

std::vector<uint8_t> EncodeGrey(const AVFrame& picture)
{
    tjhandle handle = tjInitCompress();
    if (handle == nullptr)
        throw std::runtime_error("tjInitCompress");
    unsigned char* jpeg = nullptr;
    unsigned long jpegSize = 0;
    const int failed = tjCompress2(handle, picture.data[0], picture.width, picture.linesize[0],
                                   picture.height, TJPF_GRAY, &jpeg, &jpegSize, TJSAMP_GRAY, 95, 0);
    std::vector<uint8_t> out;
    if (failed == 0)
        out.assign(jpeg, jpeg + jpegSize);
    tjFree(jpeg);
    tjDestroy(handle);
    if (failed != 0)
        throw std::runtime_error("tjCompress2");
    return out;
}

} // namespace

FramePtr PaintPicture(int width, int height, AVPixelFormat format, const Painter& paint)
{
    FramePtr frame(av_frame_alloc());
    frame->format = format;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), 32) < 0)
        throw std::runtime_error("av_frame_get_buffer");
    const bool full = format != AV_PIX_FMT_YUV420P;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            frame->data[0][y * frame->linesize[0] + x] = ToYuv(paint(x, y), full).y;
    if (format == AV_PIX_FMT_GRAY8)
        return frame;
    const int shiftX = format == AV_PIX_FMT_YUVJ444P ? 0 : 1;
    const int shiftY = format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUV420P ? 1 : 0;
    const int chromaWidth = (width + (1 << shiftX) - 1) >> shiftX;
    const int chromaHeight = (height + (1 << shiftY) - 1) >> shiftY;
    for (int y = 0; y < chromaHeight; ++y)
        for (int x = 0; x < chromaWidth; ++x) {
            const Yuv c = ToYuv(paint(x << shiftX, y << shiftY), full);
            frame->data[1][y * frame->linesize[1] + x] = c.u;
            frame->data[2][y * frame->linesize[2] + x] = c.v;
        }
    return frame;
}

std::vector<uint8_t> EncodeJpeg(const AVFrame& picture)
{
    if (picture.format == AV_PIX_FMT_GRAY8)
        return EncodeGrey(picture);
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    CodecContextPtr context(avcodec_alloc_context3(encoder));
    context->width = picture.width;
    context->height = picture.height;
    context->pix_fmt = static_cast<AVPixelFormat>(picture.format);
    context->color_range = AVCOL_RANGE_JPEG;
    context->time_base = AVRational{1, 20};
    context->flags |= AV_CODEC_FLAG_QSCALE;
    if (avcodec_open2(context.get(), encoder, nullptr) < 0)
        throw std::runtime_error("mjpeg encoder");
    FramePtr frame(av_frame_clone(&picture));
    frame->quality = 2 * FF_QP2LAMBDA;
    frame->pts = 0;
    PacketPtr packet(av_packet_alloc());
    if (avcodec_send_frame(context.get(), frame.get()) < 0 ||
        avcodec_receive_packet(context.get(), packet.get()) < 0)
        throw std::runtime_error("mjpeg encode");
    return std::vector<uint8_t>(packet->data, packet->data + packet->size);
}

std::vector<uint8_t> MakeJpeg(int width, int height, AVPixelFormat format, const Painter& paint)
{
    return EncodeJpeg(*PaintPicture(width, height, format, paint));
}

Painter ScenePainter(int width, int height)
{
    return [width, height](int x, int y) {
        const double u = static_cast<double>(x) / width;
        const double v = static_cast<double>(y) / height;
        const double dx = u - 0.5;
        const double dy = v - 0.5;
        const double ring = 0.5 + 0.5 * std::sin(std::sqrt(dx * dx + dy * dy) * 40.0);
        if (x / 80 % 5 == 2 && y / 60 % 4 == 1)
            return Rgb{250, 250, 20}; // hard-edged boxes
        return Rgb{Clamp8(255 * u), Clamp8(255 * ring), Clamp8(255 * (1 - v))};
    };
}

Painter BlocksPainter(const std::vector<Rgb>& colours)
{
    return [colours](int x, int) { return colours[std::min<size_t>(x / 64, colours.size() - 1)]; };
}
