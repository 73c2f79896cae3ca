#include "camera/receivers/H264ChunkSplitter.h"
#include "video/FfmpegHandles.h"

extern "C" {
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kFrames = 8;

// An Annex B stream of kFrames pictures from libavcodec's x264 encoder, without delay or B-frames, so
// every access unit decodes to one picture at once.
Bytes EncodeStream()
{
    av_log_set_level(AV_LOG_ERROR);
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (codec == nullptr)
        return {};
    CodecContextPtr context(avcodec_alloc_context3(codec));
    context->width = 160;
    context->height = 120;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = {1, 25};
    context->gop_size = 4;
    context->thread_count = 1;
    av_opt_set(context->priv_data, "preset", "ultrafast", 0);
    av_opt_set(context->priv_data, "tune", "zerolatency", 0);
    if (avcodec_open2(context.get(), codec, nullptr) < 0)
        return {};

    FramePtr frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = context->width;
    frame->height = context->height;
    av_frame_get_buffer(frame.get(), 0);
    PacketPtr packet(av_packet_alloc());
    Bytes stream;
    auto drain = [&] {
        while (avcodec_receive_packet(context.get(), packet.get()) == 0) {
            stream.insert(stream.end(), packet->data, packet->data + packet->size);
            av_packet_unref(packet.get());
        }
    };
    for (int i = 0; i < kFrames; ++i) {
        av_frame_make_writable(frame.get());
        for (int y = 0; y < frame->height; ++y)
            for (int x = 0; x < frame->width; ++x)
                frame->data[0][y * frame->linesize[0] + x] = static_cast<uint8_t>(x * 3 + y + i * 20);
        for (int plane = 1; plane < 3; ++plane)
            for (int y = 0; y < frame->height / 2; ++y)
                std::fill_n(frame->data[plane] + y * frame->linesize[plane], frame->width / 2, uint8_t{128});
        frame->pts = i;
        avcodec_send_frame(context.get(), frame.get());
        drain();
    }
    avcodec_send_frame(context.get(), nullptr);
    drain();
    return stream;
}

const Bytes& Stream()
{
    static const Bytes stream = EncodeStream();
    return stream;
}

// A parser and decoder pair as the family-5 receiver keeps them; Units() collects what comes out.
struct Splitter {
    Splitter()
        : parser(av_parser_init(AV_CODEC_ID_H264)),
          context(avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264)))
    {
        context->thread_count = 1;
        avcodec_open2(context.get(), context->codec, nullptr);
    }
    void Push(const uint8_t* data, int length)
    {
        SplitH264Chunk(parser.get(), context.get(), data, length,
                       [this](const uint8_t* unit, int size) { units.emplace_back(unit, unit + size); });
    }
    // Each chunk in a block of its own exact size: the parser reads past what it is given unless the
    // splitter pads, and the address sanitizer sees that.
    void PushChunked(const Bytes& stream, size_t chunkSize)
    {
        for (size_t at = 0; at < stream.size(); at += chunkSize) {
            const Bytes chunk(stream.begin() + static_cast<long>(at),
                              stream.begin() + static_cast<long>(std::min(stream.size(), at + chunkSize)));
            Push(chunk.data(), static_cast<int>(chunk.size()));
        }
    }
    // How many pictures the units decode to.
    int Decode()
    {
        PacketPtr packet(av_packet_alloc());
        FramePtr picture(av_frame_alloc());
        int pictures = 0;
        for (Bytes& unit : units) {
            packet->data = unit.data();
            packet->size = static_cast<int>(unit.size());
            if (avcodec_send_packet(context.get(), packet.get()) == 0 &&
                avcodec_receive_frame(context.get(), picture.get()) == 0)
                ++pictures;
        }
        return pictures;
    }
    ParserPtr parser;
    CodecContextPtr context;
    std::vector<Bytes> units;
};

class ChunkSizes : public testing::TestWithParam<size_t> {};

// Chunks under 4 bytes never reach the parser; from 4 bytes on, every access unit but the last (which
// waits in the parser for the next one to begin) comes out whole, in stream order, and decodes.
TEST_P(ChunkSizes, UnitsFollowTheFourByteRule)
{
    ASSERT_FALSE(Stream().empty()) << "no libx264 encoder in libavcodec";
    Splitter splitter;
    splitter.PushChunked(Stream(), GetParam());
    if (GetParam() < 4) {
        EXPECT_TRUE(splitter.units.empty());
        return;
    }
    ASSERT_EQ(splitter.units.size(), static_cast<size_t>(kFrames - 1));
    Bytes joined;
    for (const Bytes& unit : splitter.units)
        joined.insert(joined.end(), unit.begin(), unit.end());
    ASSERT_LT(joined.size(), Stream().size());
    EXPECT_TRUE(std::equal(joined.begin(), joined.end(), Stream().begin()));
    EXPECT_EQ(splitter.Decode(), kFrames - 1);
}

INSTANTIATE_TEST_SUITE_P(Family5, ChunkSizes, testing::Values(1, 3, 4, 5, 1000, 8192, 1 << 20));

// A chunk that ends a picture and begins the next gives exactly the one finished unit; the begun one
// completes in a later chunk.
TEST(H264ChunkSplitter, ChunkAcrossABoundaryGivesOneUnit)
{
    ASSERT_FALSE(Stream().empty());
    Splitter whole;
    whole.Push(Stream().data(), static_cast<int>(Stream().size()));
    ASSERT_EQ(whole.units.size(), static_cast<size_t>(kFrames - 1));

    Splitter splitter;
    size_t at = 0;
    size_t boundary = 0;
    for (size_t i = 0; i + 1 < whole.units.size(); ++i) {
        boundary += whole.units[i].size();
        const size_t end = boundary + 64; // well into the next picture
        splitter.Push(Stream().data() + at, static_cast<int>(end - at));
        at = end;
        ASSERT_EQ(splitter.units.size(), i + 1);
        EXPECT_EQ(splitter.units[i], whole.units[i]);
    }
}

TEST(H264ChunkSplitter, NothingWithoutContextOrData)
{
    ASSERT_FALSE(Stream().empty());
    Splitter splitter;
    int calls = 0;
    auto count = [&](const uint8_t*, int) { ++calls; };
    SplitH264Chunk(splitter.parser.get(), nullptr, Stream().data(), static_cast<int>(Stream().size()), count);
    SplitH264Chunk(nullptr, splitter.context.get(), Stream().data(), static_cast<int>(Stream().size()), count);
    SplitH264Chunk(splitter.parser.get(), splitter.context.get(), nullptr, 100, count);
    SplitH264Chunk(splitter.parser.get(), splitter.context.get(), Stream().data(), -5, count);
    EXPECT_EQ(calls, 0);
}

} // namespace
