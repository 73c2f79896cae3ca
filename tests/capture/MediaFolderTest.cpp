#include "capture/CaptureTestSupport.h"
#include "capture/MediaFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>

namespace {

std::string ReadText(const std::filesystem::path& file)
{
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteText(const std::filesystem::path& file, const std::string& text)
{
    std::ofstream(file) << text;
}

// Catches wrong padding, month or year offsets and a lost failure pattern.
TEST(MediaFileName, FormatsLocalTime)
{
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    struct Case {
        std::time_t when;
        MediaKind kind;
        const char* expected;
    };
    const Case cases[] = {
        {1781496884, MediaKind::Photo, "m/2026_06_15_041444.jpg"}, // 2026-06-15 04:14:44 UTC
        {1781496884, MediaKind::Recording, "m/2026_06_15_041444.mp4"},
        {946684800, MediaKind::Recording, "m/2000_01_01_000000.mp4"},
        {std::numeric_limits<std::time_t>::max(), MediaKind::Photo, "m/0000_00_00_-1-1-1.jpg"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MediaFileName("m/", c.kind, c.when), c.expected);
}

TEST(MediaFolder, IsCreatedUnderTheCurrentDirectory)
{
    ScratchFolders folders;
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(folders.root);
    const std::string first = SetUpMediaFolder();
    WriteText(folders.root / "media" / "kept.jpg", "x");
    const std::string again = SetUpMediaFolder(); // an existing folder is used as it is
    std::filesystem::current_path(before);
    EXPECT_EQ(first, (folders.root / "media").string() + "/");
    EXPECT_EQ(again, first);
    EXPECT_EQ(ReadText(folders.root / "media" / "kept.jpg"), "x");
}

TEST(MediaFolder, TakenNamesGetANumberedVariant)
{
    ScratchFolders folders;
    const std::filesystem::path wanted = folders.media / "2026_06_15_041444.jpg";
    EXPECT_EQ(CandidateName(wanted, 1), wanted);
    EXPECT_EQ(CandidateName(wanted, 3), folders.media / "2026_06_15_041444_3.jpg");

    WriteText(wanted, "first");
    std::filesystem::path chosen;
    UniqueFd fd = CreateFreeFile(wanted, chosen);
    ASSERT_TRUE(fd.valid());
    EXPECT_EQ(chosen, folders.media / "2026_06_15_041444_2.jpg");
    EXPECT_EQ(FreePath(wanted), folders.media / "2026_06_15_041444_3.jpg");
    EXPECT_EQ(ReadText(wanted), "first");
}

// A move must never replace a file, and a source it cannot move must stay where it was.
TEST(MediaFolder, MoveNeverReplaces)
{
    ScratchFolders folders;
    const std::filesystem::path wanted = folders.media / "a.mp4";
    WriteText(wanted, "old");
    WriteText(folders.temp / "a.mp4", "new");
    const std::filesystem::path placed = MoveWithoutReplacing(folders.temp / "a.mp4", wanted);
    EXPECT_EQ(placed, folders.media / "a_2.mp4");
    EXPECT_EQ(ReadText(wanted), "old");
    EXPECT_EQ(ReadText(placed), "new");
    EXPECT_FALSE(std::filesystem::exists(folders.temp / "a.mp4"));

    WriteText(folders.temp / "b.mp4", "kept");
    EXPECT_TRUE(MoveWithoutReplacing(folders.temp / "b.mp4", folders.root / "missing" / "b.mp4").empty());
    EXPECT_EQ(ReadText(folders.temp / "b.mp4"), "kept");
}

// Across file systems the rename fails with EXDEV; the copy path must still refuse to replace.
TEST(MediaFolder, MoveAcrossFileSystems)
{
    ScratchFolders folders;
    const std::filesystem::path mountPoint = folders.root / "tmpfs";
    if (!folders.MountTmpfs(mountPoint))
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root): " << std::strerror(errno);
    WriteText(mountPoint / "c.mp4", std::string(200000, 'n'));
    WriteText(folders.media / "c.mp4", "old");
    const std::filesystem::path placed = MoveWithoutReplacing(mountPoint / "c.mp4", folders.media / "c.mp4");
    EXPECT_EQ(placed, folders.media / "c_2.mp4");
    EXPECT_EQ(ReadText(placed), std::string(200000, 'n'));
    EXPECT_EQ(ReadText(folders.media / "c.mp4"), "old");
    EXPECT_FALSE(std::filesystem::exists(mountPoint / "c.mp4"));
}

} // namespace
