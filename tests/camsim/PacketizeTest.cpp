#include "camsim/Impairer.h"
#include "camsim/Packetize.h"

#include <gtest/gtest.h>

#include <numeric>

namespace {

std::vector<uint8_t> Counting(size_t size)
{
    std::vector<uint8_t> bytes(size);
    std::iota(bytes.begin(), bytes.end(), uint8_t{7});
    return bytes;
}

TEST(PacketizeFamily8, HeadersAndReassembly)
{
    struct Case {
        size_t jpegBytes;
        size_t pieces; // 0: refused
    };
    const Case cases[] = {{0, 0},     {1, 1},          {1442, 1},   {1443, 2},
                          {10000, 7}, {72100 - 1, 50}, {72100, 50}, {72101, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.jpegBytes << " bytes");
        const std::vector<uint8_t> jpeg = Counting(c.jpegBytes);
        const auto datagrams = camsim::PacketizeFamily8(jpeg, 0xBEEF);
        ASSERT_EQ(datagrams.size(), c.pieces);
        std::vector<uint8_t> joined;
        for (size_t i = 0; i < datagrams.size(); ++i) {
            const std::vector<uint8_t>& d = datagrams[i];
            ASSERT_EQ(d.size(), 1450u);
            EXPECT_EQ(d[0], 0xEF); // frame id, low byte first
            EXPECT_EQ(d[1], 0xBE);
            EXPECT_EQ(d[2], c.pieces);
            EXPECT_EQ(d[3], i);
            EXPECT_EQ(d[4] | d[5] | d[6] | d[7], 0);
            joined.insert(joined.end(), d.begin() + 8, d.end());
        }
        if (c.pieces == 0)
            continue;
        // The receiver hands off whole pieces: the JPEG, then zeros up to the last piece's end.
        ASSERT_EQ(joined.size(), c.pieces * 1442);
        EXPECT_TRUE(std::equal(jpeg.begin(), jpeg.end(), joined.begin()));
        EXPECT_TRUE(std::all_of(joined.begin() + static_cast<ptrdiff_t>(jpeg.size()), joined.end(),
                                [](uint8_t b) { return b == 0; }));
    }
}

TEST(PacketizeFamily6, HeadersSequenceWrapAndReassembly)
{
    struct Case {
        size_t jpegBytes;
        uint16_t firstSequence;
        size_t datagrams;
    };
    const Case cases[] = {{0, 5, 0},    {1, 5, 1},        {1430, 5, 1},
                          {1431, 5, 2}, {5000, 65534, 4}, {200000, 65000, 140}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.jpegBytes << " bytes from " << c.firstSequence);
        const std::vector<uint8_t> jpeg = Counting(c.jpegBytes);
        uint16_t sequence = c.firstSequence;
        const auto datagrams = camsim::PacketizeFamily6(jpeg, sequence, 0x89ABCDEFu);
        ASSERT_EQ(datagrams.size(), c.datagrams);
        EXPECT_EQ(sequence, static_cast<uint16_t>(c.firstSequence + c.datagrams));
        std::vector<uint8_t> joined;
        for (size_t i = 0; i < datagrams.size(); ++i) {
            const std::vector<uint8_t>& d = datagrams[i];
            ASSERT_GT(d.size(), 20u);
            ASSERT_LE(d.size(), 1450u);
            EXPECT_EQ((d[1] & 0x80) != 0, i + 1 == datagrams.size()) << "marker on the last datagram only";
            EXPECT_EQ((d[2] << 8) | d[3], static_cast<uint16_t>(c.firstSequence + i));
            EXPECT_EQ((uint32_t{d[4]} << 24) | (d[5] << 16) | (d[6] << 8) | d[7], 0x89ABCDEFu);
            joined.insert(joined.end(), d.begin() + 20, d.end());
        }
        EXPECT_EQ(joined, jpeg);
    }
}

TEST(PacketizeFamily6, FirstPayloadOfARealPictureIsStartOfImage)
{
    uint16_t sequence = 0;
    const auto datagrams = camsim::PacketizeFamily6(camsim::EncodeTestJpeg(640, 480, 3, 85), sequence, 3);
    ASSERT_FALSE(datagrams.empty());
    EXPECT_EQ(datagrams[0][20], 0xFF);
    EXPECT_EQ(datagrams[0][21], 0xD8);
}

std::vector<std::vector<uint8_t>> Impair(camsim::ImpairmentRates rates, camsim::Impairer::Unit unit,
                                         uint32_t seed = 1, int units = 6)
{
    camsim::Impairer impairer(rates, unit, seed);
    std::vector<std::vector<uint8_t>> out;
    for (int i = 0; i < units; ++i)
        for (auto& u : impairer.Pass(std::vector<uint8_t>(100, static_cast<uint8_t>(i))))
            out.push_back(std::move(u));
    return out;
}

std::vector<int> Tags(const std::vector<std::vector<uint8_t>>& units)
{
    std::vector<int> tags;
    for (const auto& u : units)
        tags.push_back(u.size() == 100 ? u[0] : -1);
    return tags;
}

TEST(Impairer, EachImpairmentAtRateOne)
{
    using Unit = camsim::Impairer::Unit;
    EXPECT_EQ(Tags(Impair({}, Unit::Datagram)), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_TRUE(Impair({.loss = 1}, Unit::Datagram).empty());
    EXPECT_EQ(Tags(Impair({.duplicate = 1}, Unit::Datagram)),
              (std::vector<int>{0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5}));
    EXPECT_EQ(Tags(Impair({.reorder = 1}, Unit::Datagram)), (std::vector<int>{1, 0, 3, 2, 5, 4}));
    for (const auto& u : Impair({.truncate = 1}, Unit::Datagram)) {
        EXPECT_GE(u.size(), 1u);
        EXPECT_LT(u.size(), 100u);
    }
    // Datagrams: a random datagram goes before each real one. Frames: random bytes go inside each.
    const auto garbageDatagrams = Impair({.garbage = 1}, Unit::Datagram);
    ASSERT_EQ(garbageDatagrams.size(), 12u);
    for (size_t i = 1; i < garbageDatagrams.size(); i += 2)
        EXPECT_EQ(garbageDatagrams[i], std::vector<uint8_t>(100, static_cast<uint8_t>(i / 2)));
    for (const auto& u : Impair({.garbage = 1}, Unit::Frame)) {
        EXPECT_GT(u.size(), 100u);
        EXPECT_LE(u.size(), 100u + 256u);
    }
}

// A failing run must be repeatable from its seed; different seeds must give different runs.
TEST(Impairer, SeedDecidesTheRun)
{
    const camsim::ImpairmentRates rates{
        .loss = 0.2, .duplicate = 0.2, .reorder = 0.2, .truncate = 0.2, .garbage = 0.2};
    const auto a = Impair(rates, camsim::Impairer::Unit::Datagram, 42, 200);
    EXPECT_EQ(a, Impair(rates, camsim::Impairer::Unit::Datagram, 42, 200));
    EXPECT_NE(a, Impair(rates, camsim::Impairer::Unit::Datagram, 43, 200));
}

} // namespace
