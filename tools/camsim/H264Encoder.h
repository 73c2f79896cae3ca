#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

typedef struct x264_t x264_t;

namespace camsim {

// x264 set up as a small camera would stream: baseline, no B-frames, no delay, SPS and PPS before every
// key frame, a key frame about once a second. One access unit in Annex B form per picture.
class H264Encoder {
public:
    H264Encoder() = default;

    // false with error() set when x264 refuses the parameters.
    bool Open(int width, int height, double fps);
    // forceKeyFrame makes the picture an IDR, so a client that joins now can start decoding.
    std::vector<uint8_t> Encode(const uint8_t* y, const uint8_t* u, const uint8_t* v, bool forceKeyFrame);
    const std::string& error() const { return error_; }

private:
    struct Closer {
        void operator()(x264_t* encoder) const;
    };
    std::unique_ptr<x264_t, Closer> encoder_;
    int width_ = 0;
    int height_ = 0;
    int64_t pts_ = 0;
    std::string error_;
};

} // namespace camsim
