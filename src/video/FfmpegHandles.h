#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

#include <memory>

// RAII handles for the FFmpeg objects that Vindrel owns.
struct AVFrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct AVPacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct AVCodecContextDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct AVCodecParserContextDeleter {
    void operator()(AVCodecParserContext* parser) const { av_parser_close(parser); }
};
struct AVFormatContextDeleter {
    void operator()(AVFormatContext* context) const { avformat_free_context(context); }
};

using FramePtr = std::unique_ptr<AVFrame, AVFrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, AVPacketDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, AVCodecContextDeleter>;
using ParserPtr = std::unique_ptr<AVCodecParserContext, AVCodecParserContextDeleter>;
using FormatContextPtr = std::unique_ptr<AVFormatContext, AVFormatContextDeleter>;
