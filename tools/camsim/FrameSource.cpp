#include "camsim/FrameSource.h"

#include "camsim/Packetize.h"
#include "camsim/TestPattern.h"

namespace camsim {

bool FrameSource::Open(int family, int width, int height, double fps, uint32_t firstFrameNumber)
{
    family_ = family;
    width_ = width;
    height_ = height;
    quality_ = kBestQuality;
    limitBytes_ = 0;
    error_.clear();
    if (family == 5) {
        planes_.assign(static_cast<size_t>(width) * height * 3 / 2, 0);
        if (!h264_.Open(width, height, fps)) {
            error_ = h264_.error();
            return false;
        }
        return true;
    }
    if (family != 8)
        return true;
    limitBytes_ = kFamily8MaxFrameBytes;
    // Aim a little below the limit: the moving parts of the picture change its size from frame to frame.
    const size_t target = limitBytes_ * 95 / 100;
    size_t smallest = 0;
    for (int quality = kBestQuality; quality >= kWorstQuality; quality -= kQualityStep) {
        const size_t bytes = EncodeTestJpeg(width, height, firstFrameNumber, quality).size();
        if (bytes == 0) {
            error_ = "TurboJPEG could not encode a " + std::to_string(width) + "x" + std::to_string(height) +
                     " picture";
            return false;
        }
        smallest = bytes;
        if (bytes <= target) {
            quality_ = quality;
            return true;
        }
    }
    error_ = "family 8 carries at most " + std::to_string(kFamily8MaxFrameBytes) +
             " bytes a picture (50 pieces of 1442), but a " + std::to_string(width) + "x" +
             std::to_string(height) + " picture takes " + std::to_string(smallest) +
             " bytes even at quality " + std::to_string(kWorstQuality) + "; choose a smaller size";
    return false;
}

std::vector<uint8_t> FrameSource::EncodeJpegWithinLimit(uint32_t frameNumber)
{
    for (;;) {
        std::vector<uint8_t> jpeg = EncodeTestJpeg(width_, height_, frameNumber, quality_);
        if (limitBytes_ == 0 || jpeg.size() <= limitBytes_)
            return jpeg;
        if (quality_ - kQualityStep < kWorstQuality)
            return {};
        quality_ -= kQualityStep;
    }
}

std::vector<uint8_t> FrameSource::Next(uint32_t frameNumber, bool keyFrame)
{
    if (family_ != 5)
        return EncodeJpegWithinLimit(frameNumber);
    const size_t lumaBytes = static_cast<size_t>(width_) * height_;
    uint8_t* y = planes_.data();
    uint8_t* u = y + lumaBytes;
    uint8_t* v = u + lumaBytes / 4;
    DrawTestPattern(y, width_, u, width_ / 2, v, width_ / 2, width_, height_, frameNumber);
    return h264_.Encode(y, u, v, keyFrame);
}

} // namespace camsim
