#pragma once

#include <cstdint>
#include <functional>

// Receives one whole compressed frame. The bytes stay the caller's; capacity is how many bytes are writable
// from data (>= size), so the decoder can zero its read-ahead padding in place.
using FrameSink = std::function<void(uint8_t* data, int size, int capacity)>;
