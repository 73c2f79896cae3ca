#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstdint>
#include <functional>

// Family 5: one chunk of the Annex B byte stream goes through the FFmpeg H.264 parser, and unit(data, size)
// is called for every unit it completes. The unit's bytes lie in the parser's buffer or in a padded copy of
// the chunk: they are valid during the call only, and AV_INPUT_BUFFER_PADDING_SIZE readable bytes follow
// them. The chunk itself needs no padding. Chunks shorter than 4 bytes never reach the parser. The parser
// keeps its state between chunks, so a unit spanning two chunks comes out of the later call.
void SplitH264Chunk(AVCodecParserContext* parser, AVCodecContext* context, const uint8_t* data, int length,
                    const std::function<void(const uint8_t* data, int size)>& unit);
