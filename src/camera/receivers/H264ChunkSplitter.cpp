#include "camera/receivers/H264ChunkSplitter.h"

#include <algorithm>
#include <cstring>

namespace {

// The parser copies its input together with the AV_INPUT_BUFFER_PADDING_SIZE bytes after it, so bytes
// are parsed from a copy with zeroed padding, never from the caller's buffer (a full receive buffer has
// no bytes after it). A unit that the parser takes straight from that copy keeps the padding behind it.
constexpr int kPieceBytes = 8192;

} // namespace

void SplitH264Chunk(AVCodecParserContext* parser, AVCodecContext* context, const uint8_t* data, int length,
                    const std::function<void(const uint8_t* data, int size)>& unit)
{
    if (parser == nullptr || data == nullptr || length < 4)
        return;
    uint8_t padded[kPieceBytes + AV_INPUT_BUFFER_PADDING_SIZE];
    while (length > 0 && context != nullptr) {
        const int take = std::min(length, kPieceBytes);
        std::memcpy(padded, data, static_cast<size_t>(take));
        std::memset(padded + take, 0, AV_INPUT_BUFFER_PADDING_SIZE);
        data += take;
        length -= take;

        const uint8_t* at = padded;
        int left = take;
        while (left > 0) {
            uint8_t* out = nullptr;
            int outSize = 0;
            const int used = av_parser_parse2(parser, context, &out, &outSize, at, left, 0, 0, 0);
            // A parser that neither consumes nor completes anything would spin here forever.
            if (used < 0 || (used == 0 && outSize <= 0))
                return;
            at += used;
            left -= used;
            if (outSize > 0)
                unit(out, outSize);
        }
    }
}
