#include "camsim/Packetize.h"

#include "camsim/TestPattern.h"

#include <turbojpeg.h>

#include <algorithm>
#include <memory>

namespace camsim {
namespace {

struct TjDeleter {
    void operator()(void* handle) const { tjDestroy(handle); }
};
struct TjBufferDeleter {
    void operator()(unsigned char* buffer) const { tjFree(buffer); }
};

void PutBigEndian(uint8_t* out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out[i] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
}

} // namespace

std::vector<uint8_t> EncodeTestJpeg(int width, int height, uint32_t frameNumber, int quality)
{
    if (width < kPatternMinWidth || height < kPatternMinHeight || width % 2 != 0 || height % 2 != 0)
        return {};
    const size_t lumaBytes = static_cast<size_t>(width) * height;
    const size_t chromaBytes = lumaBytes / 4;
    std::vector<uint8_t> planes(lumaBytes + 2 * chromaBytes);
    uint8_t* y = planes.data();
    uint8_t* u = y + lumaBytes;
    uint8_t* v = u + chromaBytes;
    DrawTestPattern(y, width, u, width / 2, v, width / 2, width, height, frameNumber);

    std::unique_ptr<void, TjDeleter> compressor(tjInitCompress());
    if (!compressor)
        return {};
    const unsigned char* sources[3] = {y, u, v};
    const int strides[3] = {width, width / 2, width / 2};
    unsigned char* output = nullptr;
    unsigned long outputBytes = 0;
    const int result = tjCompressFromYUVPlanes(compressor.get(), sources, width, strides, height, TJSAMP_420,
                                               &output, &outputBytes, std::clamp(quality, 1, 100), 0);
    std::unique_ptr<unsigned char, TjBufferDeleter> owned(output);
    if (result != 0 || output == nullptr)
        return {};
    return std::vector<uint8_t>(output, output + outputBytes);
}

std::vector<std::vector<uint8_t>> PacketizeFamily8(const std::vector<uint8_t>& jpeg, uint16_t frameId)
{
    const size_t pieces = (jpeg.size() + kFamily8PieceBytes - 1) / kFamily8PieceBytes;
    if (pieces == 0 || pieces > kFamily8MaxPieces)
        return {};
    std::vector<std::vector<uint8_t>> datagrams;
    datagrams.reserve(pieces);
    for (size_t index = 0; index < pieces; ++index) {
        std::vector<uint8_t> datagram(kFamily8HeaderBytes + kFamily8PieceBytes, 0);
        datagram[0] = static_cast<uint8_t>(frameId & 0xFF);
        datagram[1] = static_cast<uint8_t>(frameId >> 8);
        datagram[2] = static_cast<uint8_t>(pieces);
        datagram[3] = static_cast<uint8_t>(index);
        const size_t begin = index * kFamily8PieceBytes;
        const size_t end = std::min(jpeg.size(), begin + kFamily8PieceBytes);
        std::copy(jpeg.begin() + static_cast<ptrdiff_t>(begin), jpeg.begin() + static_cast<ptrdiff_t>(end),
                  datagram.begin() + kFamily8HeaderBytes);
        datagrams.push_back(std::move(datagram));
    }
    return datagrams;
}

std::vector<std::vector<uint8_t>> PacketizeFamily6(const std::vector<uint8_t>& jpeg, uint16_t& sequence,
                                                   uint32_t frameNumber)
{
    std::vector<std::vector<uint8_t>> datagrams;
    for (size_t begin = 0; begin < jpeg.size(); begin += kFamily6MaxPayloadBytes) {
        const size_t end = std::min(jpeg.size(), begin + kFamily6MaxPayloadBytes);
        std::vector<uint8_t> datagram(kFamily6HeaderBytes + (end - begin), 0);
        datagram[0] = 0x80;
        datagram[1] = static_cast<uint8_t>((end == jpeg.size() ? 0x80 : 0x00) | 26);
        PutBigEndian(&datagram[2], sequence, 2);
        PutBigEndian(&datagram[4], frameNumber, 4);
        PutBigEndian(&datagram[8], 0x56494E44u, 4);
        PutBigEndian(&datagram[12], static_cast<uint32_t>(begin), 4);
        std::copy(jpeg.begin() + static_cast<ptrdiff_t>(begin), jpeg.begin() + static_cast<ptrdiff_t>(end),
                  datagram.begin() + kFamily6HeaderBytes);
        datagrams.push_back(std::move(datagram));
        ++sequence;
    }
    return datagrams;
}

} // namespace camsim
