#pragma once

#include "camera/CVideoClient.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// A 640x480 I420 record frame as the pipeline queues it: buffer from av_image_alloc at alignment 4,
// owned through data[0]. Y of column x is luma(x, number); U and V are 128.
FramePtr MakeRecordFrame(int number, AVColorRange range, uint8_t (*luma)(int x, int number));
uint8_t MovingLuma(int x, int number);

// Pushes pictures into client.recordQueue at `fps` while `recording` is set, at most 8 queued, as the
// pipeline does; notes the largest queue it saw and stops when `stop` is set.
void ProduceFrames(CVideoClient& client, int fps, std::atomic<bool>& stop, size_t& maxQueued,
                   AVColorRange range = AVCOL_RANGE_MPEG, uint8_t (*luma)(int x, int number) = MovingLuma);

// What libavformat reads back from an MP4 file.
struct Mp4Contents {
    bool opened = false;
    int streams = 0;
    AVCodecID codec = AV_CODEC_ID_NONE;
    int profile = 0;
    int width = 0;
    int height = 0;
    AVRational timeBase{0, 1};
    struct Sample {
        int64_t dts;
        int64_t duration;
        bool sync;
        bool oneLengthPrefixedUnit; // a 4-byte big-endian length and exactly that many bytes
        uint8_t unitType;
    };
    std::vector<Sample> samples;
};
Mp4Contents ReadMp4(const std::filesystem::path& file);

// Names of the top-level boxes, and the movie time scale from moov/mvhd (0 when missing).
std::vector<std::string> TopLevelBoxes(const std::filesystem::path& file);
uint32_t MovieTimeScale(const std::filesystem::path& file);

// The decoded pictures of the file's video track (I420, with the colour range the stream signals).
std::vector<FramePtr> DecodeMp4(const std::filesystem::path& file);

// The regular files directly in folder.
std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& folder);

// Standard output of a shell command.
std::string RunCommand(const std::string& command);

// A fresh folder for one test with "tmp" (TMPDIR points there) and "media" inside; removed afterwards.
class ScratchFolders {
  public:
    ScratchFolders();
    ~ScratchFolders();
    ScratchFolders(const ScratchFolders&) = delete;
    ScratchFolders& operator=(const ScratchFolders&) = delete;

    // Mounts a small tmpfs at folder (another file system than the rest); false when not allowed here.
    // It is unmounted with the scratch folders.
    bool MountTmpfs(const std::filesystem::path& folder);

    std::filesystem::path root;
    std::filesystem::path temp;
    std::filesystem::path media;

  private:
    std::vector<std::filesystem::path> mounts_;
};
