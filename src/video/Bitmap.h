#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// How the luma and chroma values of a picture span their 8 bits: JPEG pictures use all 256 levels,
// most H.264 streams 16 to 235.
enum class ColorRange { Limited, Full };

// An immutable 32-bit top-down picture: bytes blue, green, red, alpha (255), rows of width * 4 bytes.
// Shared read-only between the pipeline, the view and the photo.
struct Bitmap {
    int width = 0;
    int height = 0;
    ColorRange range = ColorRange::Limited; // of the picture it was made from
    std::vector<uint8_t> pixels;

    int stride() const { return width * 4; }
    const uint8_t* row(int y) const { return pixels.data() + static_cast<size_t>(y) * stride(); }
};

using BitmapPtr = std::shared_ptr<const Bitmap>;
