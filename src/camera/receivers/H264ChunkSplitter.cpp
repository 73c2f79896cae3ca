#include "camera/receivers/H264ChunkSplitter.h"

void SplitH264Chunk(AVCodecParserContext* parser, AVCodecContext* context, const uint8_t* data, int length,
                    const std::function<void(const uint8_t* data, int size)>& unit)
{
    if (parser == nullptr || data == nullptr || length < 4)
        return;
    while (length > 0 && context != nullptr) {
        uint8_t* out = nullptr;
        int outSize = 0;
        const int used = av_parser_parse2(parser, context, &out, &outSize, data, length, 0, 0, 0);
        // A parser that neither consumes nor completes anything would spin here forever.
        if (used < 0 || (used == 0 && outSize <= 0))
            return;
        data += used;
        length -= used;
        if (outSize > 0)
            unit(out, outSize);
    }
}
