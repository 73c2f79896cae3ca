#pragma once

#include "video/FfmpegHandles.h"

#include <cstdint>
#include <vector>

// H.264 made in the tests with x264 (through libavcodec): yuv420p pictures in, one Annex B access unit
// per picture out, parameter sets in band before the first, no delay (each unit decodes on its own arrival).
std::vector<std::vector<uint8_t>> EncodeH264(const std::vector<const AVFrame*>& pictures);
