#include "camera/receivers/JpegStreamCutter.h"
#include "FuzzInput.h"

#include <string.h>

#include <algorithm>

namespace {

using Bytes = std::vector<uint8_t>;

// The cutting rules done the plain way: the start marker from the front of the accumulation, the end marker
// from two bytes after the start marker. Bytes are only appended between cuts, so a search that found
// nothing resumes at the last byte it saw (without that, chunks repeated up to the 512000-byte limit make
// the model slow the fuzzer to a crawl).
struct ModelCutter {
    Bytes accumulation;
    std::vector<Bytes> images;
    size_t startFrom = 0;
    size_t endFrom = 0;

    void Empty(size_t keepFrom)
    {
        accumulation.erase(accumulation.begin(), accumulation.begin() + static_cast<long>(keepFrom));
        startFrom = 0;
        endFrom = 0;
    }

    static long Find(const Bytes& bytes, uint8_t second, size_t from)
    {
        if (from >= bytes.size())
            return -1;
        const uint8_t marker[2] = {0xFF, second};
        const void* found = memmem(bytes.data() + from, bytes.size() - from, marker, sizeof marker);
        return found == nullptr ? -1 : static_cast<const uint8_t*>(found) - bytes.data();
    }

    void Push(const uint8_t* chunk, int n)
    {
        if (n <= 0)
            return;
        if (accumulation.size() + static_cast<size_t>(n) > JpegStreamCutter::kAccumulationBytes) {
            Empty(accumulation.size());
            return;
        }
        accumulation.insert(accumulation.end(), chunk, chunk + n);
        if (accumulation.size() < 4)
            return;
        const long start = Find(accumulation, 0xD8, startFrom);
        if (start < 0) {
            startFrom = accumulation.size() - 1;
            return;
        }
        startFrom = static_cast<size_t>(start);
        const long end = Find(accumulation, 0xD9, std::max(static_cast<size_t>(start) + 2, endFrom));
        if (end < 0) {
            endFrom = accumulation.size() - 1;
            return;
        }
        images.emplace_back(accumulation.begin() + start, accumulation.begin() + end + 2);
        Empty(static_cast<size_t>(end) + 2);
    }
};

} // namespace

// Family 9: the cutter must hand off exactly what the plain model cuts, chunk by chunk. The first input
// byte, when its low five bits are set, repeats every chunk 128 times so that inputs reach the 512000-byte
// limit; the other inputs stay quick.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int repeat = size > 0 && (data[0] & 31) == 31 ? 128 : 1;
    // One cutter for all inputs, reset to its fresh state each time, so its buffers are not remapped.
    static std::vector<Bytes> images;
    static JpegStreamCutter cutter([](uint8_t* image, int imageSize, int capacity) {
        FUZZ_CHECK(capacity >= imageSize + 64);
        images.emplace_back(image, image + imageSize);
        TouchPadding(image, imageSize, capacity);
    });
    cutter.Reset();
    images.clear();
    ModelCutter model;
    for (Piece& piece : SplitAtTag(data, size)) {
        for (int i = 0; i < repeat; ++i) {
            cutter.Push(piece.bytes.get(), piece.size);
            model.Push(piece.bytes.get(), piece.size);
            FUZZ_CHECK(images == model.images);
            images.clear();
            model.images.clear();
            FUZZ_CHECK(static_cast<size_t>(cutter.fill()) == model.accumulation.size());
            FUZZ_CHECK(cutter.fill() <= JpegStreamCutter::kAccumulationBytes);
        }
    }
    return 0;
}
