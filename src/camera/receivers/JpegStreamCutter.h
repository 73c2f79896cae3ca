#pragma once

#include "camera/receivers/FrameSink.h"

#include <cstdint>
#include <memory>

// Family 9: a TCP byte stream of JPEG images, possibly with other bytes between them. Chunks accumulate
// (up to 512000 bytes); after each chunk at most one image is cut out, from the first FF D8 to the first
// FF D9 after it, and handed off. Bytes before the image go with it; the rest moves to the front.
class JpegStreamCutter {
public:
    static constexpr int kAccumulationBytes = 512000;

    explicit JpegStreamCutter(FrameSink sink);
    void Push(const uint8_t* chunk, int n); // one received chunk (<= 1000 bytes in practice)
    void Reset();

    int fill() const { return fill_; }
    static int FrameCapacity();

private:
    // First index i >= from with bytes i, i + 1 equal to FF, second; -1 if none below fill_ - 1.
    int Find(uint8_t second, int from) const;

    FrameSink sink_;
    std::unique_ptr<uint8_t[]> accumulation_;
    std::unique_ptr<uint8_t[]> frame_; // the cut image, with room for the decoder's padding
    int fill_ = 0;
    // Markers never move while bytes are only appended, so each search resumes where the last stopped;
    // the end search begins two bytes after the start marker.
    int start_ = -1;
    int startSearched_ = 0;
    int endSearched_ = 0;
};
