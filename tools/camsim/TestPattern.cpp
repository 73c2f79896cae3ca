#include "camsim/TestPattern.h"

#include <array>
#include <cstddef>
#include <cstring>

namespace camsim {
namespace {

constexpr int kDataBits = 24;
constexpr uint8_t kBlack = 16;
constexpr uint8_t kWhite = 235;

// CRC-8, polynomial 0x07, over the three bytes of the number: a misread cell changes it. The start
// value keeps an all-black or all-white band from passing as frame 0 or 0xFFFFFF.
uint8_t Check(uint32_t number)
{
    uint8_t crc = 0xA5;
    for (int shift = 16; shift >= 0; shift -= 8) {
        crc ^= static_cast<uint8_t>(number >> shift);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint8_t>((crc & 0x80) ? (crc << 1) ^ 0x07 : crc << 1);
    }
    return crc;
}

// Cell c (0 to 31) holds bit 23 - c of the number for c < 24 and bit 31 - c of the check after that.
bool CellBit(uint32_t number, int cell)
{
    if (cell < kDataBits)
        return (number >> (kDataBits - 1 - cell)) & 1u;
    return (Check(number) >> (kDataBits + 7 - cell)) & 1u;
}

int BandHeight(int height)
{
    return height / 4;
}

// -32 to 31, a cheap hash of the position and the picture.
int Grain(uint32_t x, uint32_t y, uint32_t frameNumber)
{
    uint32_t h = x * 73856093u ^ y * 19349663u ^ frameNumber * 83492791u;
    h ^= h >> 13;
    h *= 0x5BD1E995u;
    h ^= h >> 15;
    return static_cast<int>(h & 63u) - 32;
}

struct Rect {
    int x0, y0, x1, y1;
};

Rect CellRect(int cell, int width, int height)
{
    const int column = cell % kPatternColumns;
    const int row = cell / kPatternColumns;
    const int band = BandHeight(height);
    return {column * width / kPatternColumns, row * band / kPatternRows,
            (column + 1) * width / kPatternColumns, (row + 1) * band / kPatternRows};
}

void FillLuma(uint8_t* y, int yStride, Rect r, uint8_t value)
{
    for (int row = r.y0; row < r.y1; ++row)
        std::memset(y + static_cast<size_t>(row) * yStride + r.x0, value, static_cast<size_t>(r.x1 - r.x0));
}

void FillChroma(uint8_t* plane, int stride, Rect r, uint8_t value)
{
    for (int row = r.y0 / 2; row < (r.y1 + 1) / 2; ++row)
        std::memset(plane + static_cast<size_t>(row) * stride + r.x0 / 2, value,
                    static_cast<size_t>((r.x1 + 1) / 2 - r.x0 / 2));
}

struct Yuv {
    uint8_t y, u, v;
};

// White, yellow, cyan, green, magenta, red, blue, black (BT.601, limited range).
constexpr std::array<Yuv, 8> kStripes = {{{235, 128, 128},
                                          {210, 16, 146},
                                          {170, 166, 16},
                                          {145, 54, 34},
                                          {106, 202, 222},
                                          {81, 90, 240},
                                          {41, 240, 110},
                                          {16, 128, 128}}};

} // namespace

void DrawTestPattern(uint8_t* y, int yStride, uint8_t* u, int uStride, uint8_t* v, int vStride, int width,
                     int height, uint32_t frameNumber)
{
    const int band = BandHeight(height);
    const uint32_t number = frameNumber & 0xFFFFFFu;
    for (int cell = 0; cell < kPatternColumns * kPatternRows; ++cell) {
        const Rect r = CellRect(cell, width, height);
        FillLuma(y, yStride, r, CellBit(number, cell) ? kWhite : kBlack);
        FillChroma(u, uStride, r, 128);
        FillChroma(v, vStride, r, 128);
    }
    // Stripes drift one pixel per picture and a grey bar sweeps across, so the stream visibly moves.
    const int stripeWidth = (width + 7) / 8;
    const int drift = static_cast<int>(frameNumber % static_cast<uint32_t>(stripeWidth));
    for (int stripe = -1; stripe < 8; ++stripe) {
        const int x0 = stripe * stripeWidth + drift;
        const Rect r{x0 < 0 ? 0 : x0, band, x0 + stripeWidth > width ? width : x0 + stripeWidth, height};
        if (r.x1 <= r.x0)
            continue;
        const Yuv colour = kStripes[static_cast<size_t>((stripe + 8) % 8)];
        FillLuma(y, yStride, r, colour.y);
        FillChroma(u, uStride, r, colour.u);
        FillChroma(v, vStride, r, colour.v);
    }
    const int barWidth = (width / 20) & ~1;
    const uint32_t travel = static_cast<uint32_t>(width - barWidth) / 2;
    const int x0 = static_cast<int>(frameNumber * 4u % travel) * 2;
    const Rect bar{x0, band + (height - band) / 4, x0 + barWidth, height - (height - band) / 4};
    FillLuma(y, yStride, bar, 128);
    FillChroma(u, uStride, bar, 128);
    FillChroma(v, vStride, bar, 128);
    // Fine grain at the bottom, new in every picture, so that the JPEGs have the size and the quality
    // trade-off of a real scene rather than of flat colour.
    for (int row = height - (height - band) / 4; row < height; ++row) {
        uint8_t* line = y + static_cast<size_t>(row) * yStride;
        for (int x = 0; x < width; ++x) {
            const int value =
                line[x] + Grain(static_cast<uint32_t>(x), static_cast<uint32_t>(row), frameNumber);
            line[x] = static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
        }
    }
}

int64_t ReadFrameNumber(const uint8_t* bgra, int stride, int width, int height)
{
    if (bgra == nullptr || width < kPatternMinWidth || height < kPatternMinHeight)
        return -1;
    uint32_t number = 0;
    uint32_t check = 0;
    for (int cell = 0; cell < kPatternColumns * kPatternRows; ++cell) {
        const Rect r = CellRect(cell, width, height);
        // The middle half of the cell: its edges blur in compression.
        const int qx = (r.x1 - r.x0) / 4;
        const int qy = (r.y1 - r.y0) / 4;
        int64_t sum = 0;
        int64_t count = 0;
        for (int row = r.y0 + qy; row < r.y1 - qy; ++row) {
            const uint8_t* p = bgra + static_cast<ptrdiff_t>(row) * stride;
            for (int x = r.x0 + qx; x < r.x1 - qx; ++x) {
                sum += p[x * 4] + 2 * p[x * 4 + 1] + p[x * 4 + 2];
                ++count;
            }
        }
        if (count == 0)
            return -1;
        const int64_t mean = sum / (4 * count);
        if (mean > 64 && mean < 192)
            return -1;
        const uint32_t bit = mean >= 192 ? 1u : 0u;
        if (cell < kDataBits)
            number = (number << 1) | bit;
        else
            check = (check << 1) | bit;
    }
    if (check != Check(number))
        return -1;
    return number;
}

} // namespace camsim
