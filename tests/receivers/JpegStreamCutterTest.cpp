#include "camera/receivers/JpegStreamCutter.h"

#include "receivers/SinkCollector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Text(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

// A stand-in image: the markers around a body that holds no marker of its own.
Bytes Image(uint8_t body, size_t bodySize)
{
    return Bytes{0xFF, 0xD8} + Bytes(bodySize, body) + Bytes{0xFF, 0xD9};
}

using Collector = SinkCollector;

// Pushes the stream in chunks of chunkSize; returns how many images each chunk produced (at most one).
std::vector<size_t> PushChunked(JpegStreamCutter& cutter, const Collector& collector, const Bytes& stream,
                                size_t chunkSize)
{
    std::vector<size_t> perChunk;
    for (size_t at = 0; at < stream.size(); at += chunkSize) {
        const size_t before = collector.frames.size();
        const size_t take = std::min(chunkSize, stream.size() - at);
        cutter.Push(stream.data() + at, static_cast<int>(take));
        perChunk.push_back(collector.frames.size() - before);
    }
    return perChunk;
}

struct Case {
    std::string name;
    Bytes stream;
    std::vector<Bytes> images; // what a stream cut in chunks of one byte yields
};

class CutterCases : public testing::TestWithParam<std::tuple<Case, size_t>> {};

TEST_P(CutterCases, CutsImagesFromAnyChunking)
{
    const auto& [testCase, chunkSize] = GetParam();
    Collector collector;
    JpegStreamCutter cutter(collector.Sink());
    const auto perChunk = PushChunked(cutter, collector, testCase.stream, chunkSize);
    for (size_t count : perChunk)
        EXPECT_LE(count, 1u);
    // Images that were whole in the last chunk come out one per further chunk.
    const Bytes nothing = {0x00};
    for (size_t i = 0; i < testCase.images.size(); ++i)
        cutter.Push(nothing.data(), 1);
    EXPECT_EQ(collector.frames, testCase.images);
}

const Bytes kSmallest = {0xFF, 0xD8, 0xFF, 0xD9};

INSTANTIATE_TEST_SUITE_P(
    Family9, CutterCases,
    testing::Combine(
        testing::Values(
            Case{"TwoImages", Image(1, 3000) + Image(2, 10), {Image(1, 3000), Image(2, 10)}},
            Case{"SmallestImage", kSmallest, {kSmallest}},
            // Text between images goes with the image after it.
            Case{"JunkDropped",
                 Text("--boundary\r\n") + Image(3, 50) + Text("junk") + Image(4, 60) + Text("tail"),
                 {Image(3, 50), Image(4, 60)}},
            // An image that breaks off without its end marker merges with the next one.
            Case{"BrokenImageMerges",
                 Bytes{0xFF, 0xD8} + Bytes(40, 5) + Image(6, 20),
                 {Bytes{0xFF, 0xD8} + Bytes(40, 5) + Image(6, 20)}},
            // D8 D9 after FF is no end marker.
            Case{"EndMarkerNeedsFF", Bytes{0xFF, 0xD8, 0xD9, 0x00, 0xFF, 0xD9},
                 {Bytes{0xFF, 0xD8, 0xD9, 0x00, 0xFF, 0xD9}}},
            // An end marker ahead of the start marker (garbage, the tail of a broken image) goes with the
            // next image instead of holding up the cutting.
            Case{"EndBeforeStartDropped",
                 Bytes{0xFF, 0xD9} + Image(1, 100) + Bytes(30, 8) + Bytes{0xFF, 0xD9} + Image(2, 100),
                 {Image(1, 100), Image(2, 100)}},
            // A marker pair split across chunks is still found.
            Case{"MarkersAtChunkEdges", Bytes{0x00, 0xFF} + Image(7, 1) + Bytes{0xFF},
                 {Image(7, 1)}}),
        testing::Values(1, 2, 3, 7, 1000)),
    [](const testing::TestParamInfo<std::tuple<Case, size_t>>& param) {
        return std::get<0>(param.param).name + "_" + std::to_string(std::get<1>(param.param));
    });

TEST(JpegStreamCutter, OneImagePerChunk)
{
    Collector collector;
    JpegStreamCutter cutter(collector.Sink());
    const Bytes both = Image(1, 5) + Image(2, 5);
    cutter.Push(both.data(), static_cast<int>(both.size()));
    ASSERT_EQ(collector.frames.size(), 1u);
    EXPECT_EQ(cutter.fill(), static_cast<int>(Image(2, 5).size()));
    const Bytes next = {0x00};
    cutter.Push(next.data(), 1);
    ASSERT_EQ(collector.frames.size(), 2u);
    EXPECT_EQ(collector.frames[1], Image(2, 5));
    EXPECT_EQ(cutter.fill(), 1);
}

// A stray end marker ahead of the stream's first image costs nothing: with 30 KB images in 1000-byte
// chunks, every image comes through and the accumulation never grows past about one image.
TEST(JpegStreamCutter, StrayEndMarkerDoesNotStopCutting)
{
    Collector collector;
    JpegStreamCutter cutter(collector.Sink());
    Bytes stream = {0xFF, 0xD9};
    for (uint8_t i = 1; i <= 20; ++i)
        stream = stream + Image(i, 30000);
    int most = 0;
    for (size_t at = 0; at < stream.size(); at += 1000) {
        cutter.Push(stream.data() + at, static_cast<int>(std::min<size_t>(1000, stream.size() - at)));
        most = std::max(most, cutter.fill());
    }
    ASSERT_EQ(collector.frames.size(), 20u);
    for (uint8_t i = 1; i <= 20; ++i)
        EXPECT_EQ(collector.frames[i - 1u], Image(i, 30000));
    EXPECT_LE(most, 32000);
}

// Exactly 512000 bytes fit; one more empties the accumulation and drops the chunk that overflowed it.
TEST(JpegStreamCutter, OverflowAt512000)
{
    Collector collector;
    JpegStreamCutter cutter(collector.Sink());
    const Bytes filler(1000, 0x00);
    for (int i = 0; i < 511; ++i)
        cutter.Push(filler.data(), 1000);
    const Bytes tail = Bytes(996, 0x00) + Bytes{0xFF, 0xD8, 0x01, 0x02};
    cutter.Push(tail.data(), static_cast<int>(tail.size()));
    EXPECT_EQ(cutter.fill(), JpegStreamCutter::kAccumulationBytes);
    const Bytes end = {0xFF, 0xD9};
    cutter.Push(end.data(), 2);
    EXPECT_EQ(cutter.fill(), 0);
    EXPECT_TRUE(collector.frames.empty());

    // A single chunk larger than the whole accumulation is dropped as well.
    const Bytes huge = Image(9, JpegStreamCutter::kAccumulationBytes);
    cutter.Push(huge.data(), static_cast<int>(huge.size()));
    EXPECT_EQ(cutter.fill(), 0);
    EXPECT_TRUE(collector.frames.empty());
}

TEST(JpegStreamCutter, IgnoresFailedReceivesAndReset)
{
    Collector collector;
    JpegStreamCutter cutter(collector.Sink());
    const Bytes start = {0xFF, 0xD8, 0x01};
    cutter.Push(start.data(), 3);
    cutter.Push(start.data(), 0);
    cutter.Push(start.data(), -1);
    cutter.Push(nullptr, 5);
    EXPECT_EQ(cutter.fill(), 3);
    cutter.Reset();
    const Bytes end = {0x02, 0xFF, 0xD9};
    cutter.Push(end.data(), 3);
    EXPECT_TRUE(collector.frames.empty());
}

} // namespace
