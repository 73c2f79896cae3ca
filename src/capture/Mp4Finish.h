#pragma once

#include <cstdint>
#include <filesystem>

enum class FinishResult {
    Finished,   // an ordinary MP4 with at least one picture is now at the path
    Empty,      // the file holds no picture; nothing worth keeping
    Unreadable, // not a recording we can read; left unchanged
};

// Rewrites a recording (fragmented or already ordinary) in place as an ordinary MP4 by a stream copy.
// A damaged tail, as a crash leaves it, is cut off at the last whole sample.
FinishResult FinishMp4File(const std::filesystem::path& file);

// True when the sample is a sequence of whole units, each a 4-byte big-endian length and that many bytes.
bool HasWholeLengthPrefixedUnits(const uint8_t* data, int size);

// The container options shared by the recording and its rewrite.
struct AVDictionary;
void SetMp4Options(AVDictionary** options);
