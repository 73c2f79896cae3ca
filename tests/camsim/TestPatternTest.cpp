#include "camsim/FrameSource.h"
#include "camsim/Packetize.h"
#include "camsim/TestPattern.h"
#include "Decoding.h"

#include <gtest/gtest.h>

namespace {

int64_t ReadBack(const DecodedPicture& picture)
{
    return camsim::ReadFrameNumber(picture.bgra.data(), picture.width * 4, picture.width, picture.height);
}

// A pattern that blurs into grey or loses a bit in compression would make every end-to-end frame check
// fail or, worse, pass on the wrong frame.
TEST(TestPattern, SurvivesJpegAtEverySizeAndQuality)
{
    struct Case {
        int width, height, quality;
    };
    const Case cases[] = {{160, 120, 85},  {160, 120, camsim::FrameSource::kWorstQuality},
                          {320, 240, 85},  {320, 240, 50},
                          {640, 480, 85},  {640, 480, camsim::FrameSource::kWorstQuality},
                          {1280, 720, 85}, {1280, 720, camsim::FrameSource::kWorstQuality}};
    const uint32_t numbers[] = {0, 1, 0x5A5A5A, 0xABCDEF, 0xFFFFFF};
    for (const Case& c : cases) {
        for (const uint32_t number : numbers) {
            SCOPED_TRACE(testing::Message()
                         << c.width << "x" << c.height << " q" << c.quality << " #" << number);
            const std::vector<uint8_t> jpeg = camsim::EncodeTestJpeg(c.width, c.height, number, c.quality);
            ASSERT_GE(jpeg.size(), 4u);
            EXPECT_EQ(jpeg[0], 0xFF);
            EXPECT_EQ(jpeg[1], 0xD8);
            DecodedPicture picture;
            ASSERT_TRUE(DecodeJpeg(jpeg, picture));
            ASSERT_EQ(picture.width, c.width);
            EXPECT_EQ(ReadBack(picture), number);
        }
    }
}

TEST(TestPattern, CarriesTheLow24BitsOfTheNumber)
{
    DecodedPicture picture;
    ASSERT_TRUE(DecodeJpeg(camsim::EncodeTestJpeg(320, 240, 0x01000005u, 85), picture));
    EXPECT_EQ(ReadBack(picture), 5);
}

// Pictures that are not the pattern, or a damaged band, must read as unreadable rather than as a number.
TEST(TestPattern, UnreadablePicturesGiveMinusOne)
{
    DecodedPicture grey{320, 240, std::vector<uint8_t>(320 * 240 * 4, 128)};
    EXPECT_EQ(ReadBack(grey), -1);

    // A black or white screen must not pass for frame 0 or 0xFFFFFF.
    for (const uint8_t level : {0, 255}) {
        DecodedPicture flat{320, 240, std::vector<uint8_t>(320 * 240 * 4, level)};
        EXPECT_EQ(ReadBack(flat), -1) << int{level};
    }

    DecodedPicture flipped;
    ASSERT_TRUE(DecodeJpeg(camsim::EncodeTestJpeg(320, 240, 1234, 85), flipped));
    // Invert the first cell (top-left 20x30 pixels): a single wrong bit must fail the check.
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 20; ++x)
            for (int k = 0; k < 3; ++k) {
                uint8_t& p = flipped.bgra[static_cast<size_t>(y * 320 + x) * 4 + k];
                p = static_cast<uint8_t>(255 - p);
            }
    EXPECT_EQ(ReadBack(flipped), -1);

    EXPECT_EQ(camsim::ReadFrameNumber(grey.bgra.data(), 32 * 4, 32, 24), -1); // too small to hold the band
    EXPECT_EQ(camsim::ReadFrameNumber(nullptr, 0, 320, 240), -1);
    EXPECT_TRUE(camsim::EncodeTestJpeg(161, 120, 0, 85).empty()); // odd sizes have no 4:2:0 layout
}

// Family 5's pictures pass through x264 and libavcodec; every one must read back, in order, starting
// with the first (an IDR with SPS and PPS in front).
TEST(TestPattern, SurvivesH264)
{
    for (const auto& [width, height] : {std::pair{320, 240}, std::pair{640, 480}}) {
        SCOPED_TRACE(testing::Message() << width << "x" << height);
        camsim::FrameSource source;
        ASSERT_TRUE(source.Open(5, width, height, 25, 0)) << source.error();
        H264TestDecoder decoder;
        ASSERT_TRUE(decoder.ok());
        std::vector<DecodedPicture> pictures;
        constexpr uint32_t kFirst = 700;
        constexpr int kCount = 40;
        for (int i = 0; i < kCount; ++i) {
            const std::vector<uint8_t> unit = source.Next(kFirst + static_cast<uint32_t>(i), i == 0);
            ASSERT_FALSE(unit.empty());
            if (i == 0) { // starts with a start code and an SPS
                ASSERT_GE(unit.size(), 5u);
                EXPECT_EQ(unit[0] | unit[1] | unit[2], 0);
                EXPECT_EQ(unit[4] & 0x1F, 7);
            }
            decoder.Feed(unit.data(), unit.size(), pictures);
        }
        decoder.Flush(pictures);
        ASSERT_EQ(pictures.size(), static_cast<size_t>(kCount));
        for (int i = 0; i < kCount; ++i)
            EXPECT_EQ(ReadBack(pictures[static_cast<size_t>(i)]), kFirst + i) << "picture " << i;
    }
}

} // namespace
