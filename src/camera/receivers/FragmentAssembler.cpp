#include "camera/receivers/FragmentAssembler.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <cstring>
#include <utility>

const int FragmentAssembler::kCellCapacity = kMaxFrameBytes + AV_INPUT_BUFFER_PADDING_SIZE;

FragmentAssembler::AssemblySlot::AssemblySlot() : cells(std::make_unique<uint8_t[]>(kCellCapacity))
{
}

void FragmentAssembler::AssemblySlot::Reset()
{
    count = 0;
    frameId = 0;
    received.fill(false);
}

FragmentAssembler::FragmentAssembler(FrameSink sink) : sink_(std::move(sink))
{
}

void FragmentAssembler::Reset()
{
    for (AssemblySlot& slot : slots_)
        slot.Reset();
}

FragmentAssembler::AssemblySlot& FragmentAssembler::EvictSlot()
{
    // Plain unsigned order, so after the camera's id wraps a stale high id outlives newer frames.
    AssemblySlot* oldest = &slots_[0];
    for (AssemblySlot& slot : slots_) {
        if (slot.frameId < oldest->frameId)
            oldest = &slot;
    }
    oldest->Reset();
    return *oldest;
}

FragmentAssembler::AssemblySlot& FragmentAssembler::ChooseSlot(uint16_t frameId)
{
    for (AssemblySlot& slot : slots_) {
        if (slot.frameId == frameId)
            return slot;
    }
    for (AssemblySlot& slot : slots_) {
        if (slot.frameId == 0) {
            slot.Reset();
            return slot;
        }
    }
    return EvictSlot();
}

void FragmentAssembler::Push(const uint8_t* datagram, int n)
{
    if (datagram == nullptr || n < kHeaderBytes + 1)
        return;
    n = std::min(n, kDatagramBytes);
    const uint16_t frameId = static_cast<uint16_t>(datagram[0] | datagram[1] << 8);
    const int pieceCount = datagram[2];
    const int pieceIndex = datagram[3];
    if (pieceIndex >= kMaxPieces)
        return;

    AssemblySlot& slot = ChooseSlot(frameId);
    slot.frameId = frameId;
    if (!slot.received[pieceIndex]) {
        slot.received[pieceIndex] = true;
        uint8_t* cell = slot.cells.get() + pieceIndex * kPieceBytes;
        const int payload = n - kHeaderBytes;
        std::memcpy(cell, datagram + kHeaderBytes, payload);
        // A short piece must not carry over bytes of an earlier datagram, possibly of another frame.
        std::memset(cell + payload, 0, kPieceBytes - payload);
        ++slot.count;
    }
    if (slot.count >= static_cast<uint32_t>(pieceCount)) {
        // pieceCount is at most kMaxPieces here: count never exceeds the pieces that can be stored.
        const bool whole = std::all_of(slot.received.begin(), slot.received.begin() + pieceCount,
                                       [](bool received) { return received; });
        if (whole)
            sink_(slot.cells.get(), pieceCount * kPieceBytes, kCellCapacity);
        slot.Reset();
    }
}
