#pragma once

// Decoders for the simulator's tests: the pictures go through the real TurboJPEG and libavcodec, so a
// pattern that does not survive them fails here rather than in the receivers' tests.

#include "video/FfmpegHandles.h"

#include <libyuv.h>
#include <turbojpeg.h>

#include <cstdint>
#include <memory>
#include <vector>

struct DecodedPicture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bgra;
};

inline bool DecodeJpeg(const uint8_t* data, size_t size, DecodedPicture& out)
{
    struct Destroyer {
        void operator()(void* handle) const { tjDestroy(handle); }
    };
    std::unique_ptr<void, Destroyer> decompressor(tjInitDecompress());
    int subsampling = 0;
    int colorspace = 0;
    if (!decompressor || tjDecompressHeader3(decompressor.get(), data, static_cast<unsigned long>(size),
                                             &out.width, &out.height, &subsampling, &colorspace) != 0)
        return false;
    out.bgra.assign(static_cast<size_t>(out.width) * out.height * 4, 0);
    return tjDecompress2(decompressor.get(), data, static_cast<unsigned long>(size), out.bgra.data(),
                         out.width, out.width * 4, out.height, TJPF_BGRA, 0) == 0;
}

inline bool DecodeJpeg(const std::vector<uint8_t>& jpeg, DecodedPicture& out)
{
    return DecodeJpeg(jpeg.data(), jpeg.size(), out);
}

// Feeds an H.264 Annex B byte stream through libavcodec's parser and decoder in arbitrary chunks.
class H264TestDecoder {
public:
    H264TestDecoder()
    {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
        context_.reset(avcodec_alloc_context3(codec));
        parser_.reset(av_parser_init(AV_CODEC_ID_H264));
        if (context_ && avcodec_open2(context_.get(), codec, nullptr) != 0)
            context_.reset();
    }

    bool ok() const { return context_ && parser_ && frame_ && packet_; }

    // Appends every picture completed by these bytes.
    void Feed(const uint8_t* data, size_t size, std::vector<DecodedPicture>& pictures)
    {
        while (size > 0) {
            uint8_t* unit = nullptr;
            int unitSize = 0;
            const int used = av_parser_parse2(parser_.get(), context_.get(), &unit, &unitSize, data,
                                              static_cast<int>(size), AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
            if (used < 0)
                return;
            data += used;
            size -= static_cast<size_t>(used);
            if (unitSize > 0) {
                packet_->data = unit;
                packet_->size = unitSize;
                Decode(packet_.get(), pictures);
            }
        }
    }

    void Flush(std::vector<DecodedPicture>& pictures)
    {
        uint8_t* unit = nullptr;
        int unitSize = 0;
        av_parser_parse2(parser_.get(), context_.get(), &unit, &unitSize, nullptr, 0, AV_NOPTS_VALUE,
                         AV_NOPTS_VALUE, 0);
        if (unitSize > 0) {
            packet_->data = unit;
            packet_->size = unitSize;
            Decode(packet_.get(), pictures);
        }
        Decode(nullptr, pictures);
    }

private:
    void Decode(AVPacket* packet, std::vector<DecodedPicture>& pictures)
    {
        if (avcodec_send_packet(context_.get(), packet) != 0)
            return;
        while (avcodec_receive_frame(context_.get(), frame_.get()) == 0) {
            DecodedPicture picture;
            picture.width = frame_->width;
            picture.height = frame_->height;
            picture.bgra.resize(static_cast<size_t>(picture.width) * picture.height * 4);
            libyuv::I420ToARGB(frame_->data[0], frame_->linesize[0], frame_->data[1], frame_->linesize[1],
                               frame_->data[2], frame_->linesize[2], picture.bgra.data(), picture.width * 4,
                               picture.width, picture.height);
            pictures.push_back(std::move(picture));
            av_frame_unref(frame_.get());
        }
    }

    CodecContextPtr context_;
    ParserPtr parser_;
    FramePtr frame_{av_frame_alloc()};
    PacketPtr packet_{av_packet_alloc()};
};
