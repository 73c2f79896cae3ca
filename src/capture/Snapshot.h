#pragma once

#include "video/Bitmap.h"

#include <cstdint>
#include <string>
#include <vector>

// Photos: a Bitmap as JPEG through libjpeg-turbo, 4:2:0 chroma.
inline constexpr int kSnapshotQuality = 75;

// The JPEG bytes of bitmap; empty when the bitmap is empty or encoding fails.
std::vector<uint8_t> EncodeSnapshot(const Bitmap& bitmap, int quality = kSnapshotQuality);

// Saves bitmap in mediaPath under the photo name of the current second. A name already taken gets
// "_2", "_3", ... so that a photo never replaces another. Returns the path written, empty when none was
// (a file that could not be written completely is removed again).
std::string SavePhoto(const Bitmap& bitmap, const std::string& mediaPath);
