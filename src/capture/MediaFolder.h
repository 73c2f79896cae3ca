#pragma once

#include "platform/UniqueFd.h"

#include <ctime>
#include <filesystem>
#include <string>

// Photos and recordings go into one folder, named by the local time to the second.

enum class MediaKind { Photo, Recording };

// "media" under the current directory, created when missing; the result ends in '/'.
std::string SetUpMediaFolder();

// mediaPath + year_month_day_hourminutesecond + ".jpg" or ".mp4", from the local time now or at `when`.
// When the local time cannot be had, the name reads 0000_00_00_-1-1-1.
std::string MediaFileName(const std::string& mediaPath, MediaKind kind);
std::string MediaFileName(const std::string& mediaPath, MediaKind kind, std::time_t when);

// The n-th candidate name for `wanted`: wanted itself for n = 1, else stem_n.ext
// ("2026_06_15_041444.jpg", "2026_06_15_041444_2.jpg", ...).
std::filesystem::path CandidateName(const std::filesystem::path& wanted, int n);

// Creates a new file at the first free candidate name, never opening an existing one. Returns the
// open descriptor (invalid on failure) and sets `chosen` to the path created.
UniqueFd CreateFreeFile(const std::filesystem::path& wanted, std::filesystem::path& chosen);

// The first candidate name that does not exist yet; only for folders that no other process writes.
std::filesystem::path FreePath(const std::filesystem::path& wanted);

// Moves `from` to the first free candidate name for `wanted`: a rename where possible, else (another
// file system) a copy that is synced before the source is removed. Never replaces a file. Returns
// the new path, or an empty path when the move failed (the source then stays where it was).
std::filesystem::path MoveWithoutReplacing(const std::filesystem::path& from,
                                           const std::filesystem::path& wanted);
