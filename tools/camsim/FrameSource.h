#pragma once

#include "camsim/H264Encoder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace camsim {

// Makes the compressed pictures of one simulated camera: the test pattern as H.264 access units
// (family 5) or as JPEGs (families 6, 8, 9). For family 8 it keeps every JPEG within the 50 pieces a
// frame can hold by choosing the highest quality that fits.
class FrameSource {
public:
    static constexpr int kBestQuality = 85;
    static constexpr int kWorstQuality = 20; // below this the pattern band starts to smear
    static constexpr int kQualityStep = 5;

    // false with error() set when the encoder cannot be made or, for family 8, no quality fits.
    bool Open(int family, int width, int height, double fps, uint32_t firstFrameNumber);
    // The picture of frameNumber; keyFrame asks H.264 for an IDR. Empty when encoding failed or (family 8)
    // this picture does not fit even at the worst quality.
    std::vector<uint8_t> Next(uint32_t frameNumber, bool keyFrame);

    int quality() const { return quality_; }
    const std::string& error() const { return error_; }

private:
    std::vector<uint8_t> EncodeJpegWithinLimit(uint32_t frameNumber);

    int family_ = 0;
    int width_ = 0;
    int height_ = 0;
    int quality_ = kBestQuality;
    size_t limitBytes_ = 0;       // 0: no limit
    std::vector<uint8_t> planes_; // I420 scratch for H.264
    H264Encoder h264_;
    std::string error_;
};

} // namespace camsim
