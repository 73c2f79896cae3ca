#include "capture/CaptureTestSupport.h"
#include "capture/MP4Encoder.h"
#include "capture/NalUnit.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct FoundUnit {
    int consumed;
    uint32_t type;
    uint32_t length;
    int offset; // of the header byte in the buffer
};

struct NalCase {
    const char* name;
    std::vector<uint8_t> bytes;
    std::vector<FoundUnit> expected; // in order, searching on from each unit's end
};

// Catches off-by-one errors at start codes: a unit must never include the zeros of the next start
// code, and the last one must run to the end of the buffer.
TEST(NextNalUnit, FindsUnitsInOrder)
{
    const std::vector<NalCase> cases = {
        {"no start code", {0x00, 0x00, 0x02, 0x65, 0x88, 0x00, 0x01}, {}},
        {"too short", {0x00, 0x00, 0x01}, {}},
        {"three-byte start code runs to the end", {0x00, 0x00, 0x01, 0x65, 0x88, 0x84}, {{6, 0x65, 3, 3}}},
        {"four-byte start codes: SPS, PPS, SEI, IDR",
         {0, 0, 0, 1, 0x67, 0x4D, 0x40, 0x1E, 0, 0, 0, 1,    0x68, 0xEE, 0x3C, 0x80,
          0, 0, 0, 1, 0x06, 0x05, 0xFF, 0,    0, 0, 1, 0x65, 0x88, 0x80, 0x40},
         {{8, 0x67, 4, 4}, {8, 0x68, 4, 12}, {7, 0x06, 3, 20}, {8, 0x65, 4, 27}}},
        {"three-byte start code between units",
         {0, 0, 1, 0x41, 0x9A, 0x02, 0, 0, 1, 0x41, 0x9B},
         {{6, 0x41, 3, 3}, {5, 0x41, 2, 9}}},
        {"unit of one byte", {0, 0, 1, 0x09, 0, 0, 1, 0x41, 0x9A}, {{4, 0x09, 1, 3}, {5, 0x41, 2, 7}}},
        {"garbage before the first start code", {0xFF, 0x12, 0, 0, 1, 0x65, 0x11}, {{7, 0x65, 2, 5}}},
    };
    for (const NalCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<FoundUnit> found;
        int start = 0;
        NalUnit unit;
        for (int n; (n = NextNalUnit(c.bytes.data(), static_cast<int>(c.bytes.size()), start, unit)) > 0;
             start += n) {
            found.push_back({n, unit.type, unit.length, static_cast<int>(unit.data - c.bytes.data())});
            ASSERT_LE(found.size(), c.expected.size() + 1);
        }
        ASSERT_EQ(found.size(), c.expected.size());
        for (size_t i = 0; i < found.size(); ++i) {
            EXPECT_EQ(found[i].consumed, c.expected[i].consumed) << i;
            EXPECT_EQ(found[i].type, c.expected[i].type) << i;
            EXPECT_EQ(found[i].length, c.expected[i].length) << i;
            EXPECT_EQ(found[i].offset, c.expected[i].offset) << i;
        }
    }
    NalUnit unit;
    const uint8_t bytes[] = {0, 0, 1, 0x65};
    EXPECT_EQ(NextNalUnit(bytes, 4, -1, unit), 0);
    EXPECT_EQ(NextNalUnit(nullptr, 4, 0, unit), 0);
}

class WriterTest : public ::testing::Test {
  protected:
    ScratchFolders folders;
    std::filesystem::path file = folders.temp / "writer.mp4";
    MP4Encoder writer;
};

// Parameter sets are kept, SEI skipped, and each slice becomes one sample of a length and one unit;
// a slice before any parameter set cannot be stored.
TEST_F(WriterTest, StoresSlicesAsLengthPrefixedSamples)
{
    const uint8_t slice[] = {0, 0, 0, 1, 0x41, 0x9A, 0x02};
    EXPECT_EQ(writer.WriteNalUnits(slice, sizeof slice), -1) << "no file open";
    ASSERT_NE(writer.OpenFile(file.c_str()), nullptr);
    EXPECT_EQ(writer.WriteNalUnits(nullptr, 4), -1);
    const uint8_t noStartCode[] = {0x65, 0x88, 0x84, 0x00};
    EXPECT_EQ(writer.WriteNalUnits(noStartCode, sizeof noStartCode), 0);

    testing::internal::CaptureStdout();
    EXPECT_EQ(writer.WriteNalUnits(slice, sizeof slice), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "MP4WriteSample() failed!\n");
    EXPECT_EQ(writer.trackId, 0u);

    const uint8_t keyframe[] = {0,    0, 0, 1, 0x67, 0x4D, 0x40, 0x1E, 0xE8, 0, 0, 0, 1,    0x68, 0xEE, 0x3C,
                                0x80, 0, 0, 0, 1,    0x06, 0x05, 0xFF, 0,    0, 0, 1, 0x65, 0x88, 0x80, 0x40};
    EXPECT_EQ(writer.WriteNalUnits(keyframe, sizeof keyframe), static_cast<int>(sizeof keyframe));
    EXPECT_EQ(writer.spsLength, 5);
    EXPECT_EQ(writer.ppsLength, 4);
    EXPECT_EQ(writer.sps[1], 0x4D);
    EXPECT_NE(writer.trackId, 0u);
    EXPECT_EQ(writer.WriteNalUnits(slice, sizeof slice), static_cast<int>(sizeof slice));
    EXPECT_EQ(writer.WriteNalUnits(keyframe, sizeof keyframe), static_cast<int>(sizeof keyframe));

    // Too big for its store: ignored, the earlier set stays.
    std::vector<uint8_t> bigSps = {0, 0, 0, 1, 0x67};
    bigSps.resize(5 + 1100, 0x11);
    writer.WriteNalUnits(bigSps.data(), static_cast<int>(bigSps.size()));
    EXPECT_EQ(writer.spsLength, 5);

    ASSERT_TRUE(writer.CloseFile());
    EXPECT_EQ(writer.trackId, 0u);
    EXPECT_EQ(writer.spsLength, 0);
    EXPECT_FALSE(writer.CloseFile()) << "a closed writer does nothing";

    const Mp4Contents contents = ReadMp4(file);
    ASSERT_TRUE(contents.opened);
    ASSERT_EQ(contents.samples.size(), 3u);
    const uint8_t types[] = {0x65, 0x41, 0x65};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(contents.samples[i].oneLengthPrefixedUnit) << i;
        EXPECT_EQ(contents.samples[i].unitType, types[i]) << i;
        EXPECT_EQ(contents.samples[i].sync, types[i] == 0x65) << i;
        EXPECT_EQ(contents.samples[i].duration, 4500) << i;
        EXPECT_EQ(contents.samples[i].dts, static_cast<int64_t>(i) * 4500) << i;
    }
}

TEST_F(WriterTest, FailedOpenPrintsItsMessageAndLeavesNothingToClose)
{
    const std::string missing = (folders.root / "no such folder" / "a.mp4").string();
    testing::internal::CaptureStderr();
    EXPECT_EQ(writer.OpenFile(missing.c_str()), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "MP4Encoder ERROR: Open file[" + missing + "] fialed.\n");
    EXPECT_EQ(writer.OpenFile(nullptr), nullptr);
    EXPECT_FALSE(writer.CloseFile());
    // Pictures given to a writer that never opened are dropped, not encoded by a missing encoder.
    std::vector<uint8_t> plane(640 * 480, 128);
    writer.EncodePicture(plane.data(), plane.data(), plane.data());
    EXPECT_EQ(writer.pictureCount, 0);
}

// A file that never received a picture is not left behind as an unplayable stub.
TEST_F(WriterTest, FileWithoutPicturesIsRemoved)
{
    ASSERT_NE(writer.OpenFile(file.c_str()), nullptr);
    EXPECT_EQ(writer.width, 640);
    EXPECT_EQ(writer.height, 480);
    EXPECT_EQ(writer.frameRate, 20);
    EXPECT_EQ(writer.timeScale, 90000);
    EXPECT_FALSE(writer.CloseFile());
    EXPECT_FALSE(std::filesystem::exists(file));
}

} // namespace
