#include "camera/receivers/H264ChunkSplitter.h"
#include "video/FfmpegHandles.h"
#include "FuzzInput.h"

extern "C" {
#include <libavutil/log.h>
}

// Family 5: any byte stream, in any chunking, goes through the parser without a crash or a hang, and
// every unit it reports is readable to its last byte.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    av_log_set_level(AV_LOG_QUIET);
    ParserPtr parser(av_parser_init(AV_CODEC_ID_H264));
    CodecContextPtr context(avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264)));
    FUZZ_CHECK(parser && context);
    unsigned sum = 0;
    for (Piece& piece : SplitAtTag(data, size)) {
        SplitH264Chunk(parser.get(), context.get(), piece.bytes.get(), piece.size,
                       [&](const uint8_t* unit, int unitSize) {
                           FUZZ_CHECK(unitSize > 0);
                           for (int i = 0; i < unitSize; ++i)
                               sum += unit[i];
                       });
    }
    return static_cast<int>(sum & 0);
}
