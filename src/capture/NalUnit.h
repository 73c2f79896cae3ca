#pragma once

#include <cstdint>

// One NAL unit found in an Annex B buffer; data points into the caller's buffer.
struct NalUnit {
    uint32_t type = 0;   // the whole header byte (nal_ref_idc and type)
    uint32_t length = 0; // from the header byte to the end of the unit
    const uint8_t* data = nullptr;
};

// Finds the first NAL unit behind a 00 00 01 start code in buffer[start, end). Returns the bytes from
// start to the end of that unit (so start + result is where the next search begins), or 0 when there
// is none. Pure: no state, safe on any bytes.
int NextNalUnit(const uint8_t* buffer, int end, int start, NalUnit& unit);
