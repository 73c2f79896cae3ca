#pragma once

#include <cstdint>

namespace camsim {

// The picture the simulated camera sends. The top quarter is a band of 2 x 16 black and white cells that
// carry the low 24 bits of the frame number and an 8-bit check of them; cells this large survive JPEG and
// H.264 at ordinary quality and read back from 160x120 up. Below it a bar moves with the frame number over
// colour stripes, so a viewer sees that the stream is alive, and the bottom strip carries fresh grain in
// every picture, which gives the JPEGs a realistic size.
inline constexpr int kPatternColumns = 16;
inline constexpr int kPatternRows = 2;
inline constexpr int kPatternMinWidth = 64;
inline constexpr int kPatternMinHeight = 48;

// Draws frame frameNumber into an I420 picture. width and height are at least the minimum above.
void DrawTestPattern(uint8_t* y, int yStride, uint8_t* u, int uStride, uint8_t* v, int vStride, int width,
                     int height, uint32_t frameNumber);

// Reads the frame number (its low 24 bits) back from a decoded 32-bit picture (bytes blue, green, red,
// alpha). -1 when the band is unreadable: a cell is neither clearly black nor clearly white, or the check
// does not match.
int64_t ReadFrameNumber(const uint8_t* bgra, int stride, int width, int height);

} // namespace camsim
