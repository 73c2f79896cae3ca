#include "camera/receivers/JpegStreamCutter.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <cstring>
#include <utility>

int JpegStreamCutter::FrameCapacity()
{
    return kAccumulationBytes + AV_INPUT_BUFFER_PADDING_SIZE;
}

JpegStreamCutter::JpegStreamCutter(FrameSink sink)
    : sink_(std::move(sink)), accumulation_(std::make_unique_for_overwrite<uint8_t[]>(kAccumulationBytes)),
      frame_(std::make_unique_for_overwrite<uint8_t[]>(FrameCapacity()))
{
}

void JpegStreamCutter::Reset()
{
    fill_ = 0;
    start_ = -1;
    startSearched_ = 0;
    endSearched_ = 0;
}

int JpegStreamCutter::Find(uint8_t second, int from) const
{
    const uint8_t* bytes = accumulation_.get();
    const int last = fill_ - 1; // the pair needs a byte after it
    while (from < last) {
        const void* ff = std::memchr(bytes + from, 0xFF, static_cast<size_t>(last - from));
        if (ff == nullptr)
            return -1;
        const int at = static_cast<int>(static_cast<const uint8_t*>(ff) - bytes);
        if (bytes[at + 1] == second)
            return at;
        from = at + 1;
    }
    return -1;
}

void JpegStreamCutter::Push(const uint8_t* chunk, int n)
{
    if (chunk == nullptr || n <= 0)
        return;
    if (n > kAccumulationBytes - fill_) {
        // Too much without a usable image: start over, dropping this chunk as well.
        Reset();
        return;
    }
    std::memcpy(accumulation_.get() + fill_, chunk, static_cast<size_t>(n));
    fill_ += n;
    if (fill_ < 4)
        return;

    if (start_ < 0) {
        start_ = Find(0xD8, startSearched_);
        startSearched_ = fill_ - 1;
        if (start_ < 0)
            return;
        endSearched_ = start_ + 2;
    }
    // The end marker is looked for after the start marker only: an FF D9 ahead of it (garbage, the tail
    // of a broken image) is dropped with the image instead of holding up all cutting until overflow.
    const int end = Find(0xD9, endSearched_);
    endSearched_ = std::max(endSearched_, fill_ - 1);
    if (end < 0)
        return;

    const int length = end - start_ + 2;
    std::memcpy(frame_.get(), accumulation_.get() + start_, static_cast<size_t>(length));
    const int rest = fill_ - end - 2;
    if (rest > 0)
        std::memmove(accumulation_.get(), accumulation_.get() + end + 2, static_cast<size_t>(rest));
    Reset();
    fill_ = rest;
    // One image per chunk: whatever the rest holds waits for the next chunk.
    sink_(frame_.get(), length, FrameCapacity());
}
