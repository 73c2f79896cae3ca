#include "support/H264Fixtures.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <stdexcept>

std::vector<std::vector<uint8_t>> EncodeH264(const std::vector<const AVFrame*>& pictures)
{
    if (pictures.empty())
        return {};
    const AVCodec* encoder = avcodec_find_encoder_by_name("libx264");
    if (encoder == nullptr)
        throw std::runtime_error("libx264 encoder missing");
    CodecContextPtr context(avcodec_alloc_context3(encoder));
    context->width = pictures.front()->width;
    context->height = pictures.front()->height;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = AVRational{1, 20};
    context->gop_size = 20;
    context->max_b_frames = 0;
    context->thread_count = 1;
    av_opt_set(context->priv_data, "preset", "ultrafast", 0);
    av_opt_set(context->priv_data, "tune", "zerolatency", 0);
    av_opt_set(context->priv_data, "qp", "8", 0);
    if (avcodec_open2(context.get(), encoder, nullptr) < 0)
        throw std::runtime_error("libx264 open");
    std::vector<std::vector<uint8_t>> units;
    PacketPtr packet(av_packet_alloc());
    auto drain = [&] {
        while (avcodec_receive_packet(context.get(), packet.get()) == 0) {
            units.emplace_back(packet->data, packet->data + packet->size);
            av_packet_unref(packet.get());
        }
    };
    int64_t pts = 0;
    for (const AVFrame* picture : pictures) {
        FramePtr frame(av_frame_clone(picture));
        frame->pts = pts++;
        if (avcodec_send_frame(context.get(), frame.get()) < 0)
            throw std::runtime_error("libx264 encode");
        drain();
    }
    avcodec_send_frame(context.get(), nullptr);
    drain();
    return units;
}
