#include "capture/NalUnit.h"

int NextNalUnit(const uint8_t* buffer, int end, int start, NalUnit& unit)
{
    if (buffer == nullptr || start < 0 || end <= start)
        return 0;
    int i = start + 3;
    while (i < end && !(buffer[i - 3] == 0 && buffer[i - 2] == 0 && buffer[i - 1] == 1))
        ++i;
    if (i >= end)
        return 0;
    // The unit ends where the next start code begins; a four-byte start code's leading zero is not
    // part of this unit either.
    int j = i + 4;
    while (j < end && !(buffer[j - 3] == 0 && buffer[j - 2] == 0 && buffer[j - 1] <= 1))
        ++j;
    const int length = j < end ? j - i - 3 : end - i;
    unit.type = buffer[i];
    unit.length = static_cast<uint32_t>(length);
    unit.data = buffer + i;
    return i + length - start;
}
