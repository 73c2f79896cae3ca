#pragma once

#include "camera/receivers/FrameSink.h"

#include <array>
#include <cstdint>
#include <memory>

// Family 8: a JPEG frame arrives as pieces of 1442 bytes, one per datagram, behind an 8-byte header
// (frame id, little-endian 16-bit; piece count; piece index; 4 bytes unused). Up to three frames are
// collected at once, one per AssemblySlot; a fourth frame id evicts the slot with the smallest id.
class FragmentAssembler {
public:
    static constexpr int kHeaderBytes = 8;
    static constexpr int kPieceBytes = 1442;
    static constexpr int kDatagramBytes = kHeaderBytes + kPieceBytes; // longer datagrams are cut here
    static constexpr int kMaxPieces = 50;
    static constexpr int kMaxFrameBytes = kMaxPieces * kPieceBytes;
    static constexpr int kSlotCount = 3;

    // One frame id being collected; frame id 0 marks a free slot.
    struct AssemblySlot {
        AssemblySlot();
        void Reset();

        // Piece i lives at i * kPieceBytes; the tail leaves the decoder room for its zero padding.
        std::unique_ptr<uint8_t[]> cells;
        uint32_t count = 0; // distinct pieces stored since the last reset
        uint16_t frameId = 0;
        std::array<bool, kMaxPieces> received{};
    };
    static const int kCellCapacity;

    explicit FragmentAssembler(FrameSink sink);
    void Push(const uint8_t* datagram, int n); // n = receive result (may be negative); reads at most 1450
    void Reset();                               // all three slots

    const AssemblySlot& slot(int index) const { return slots_[index]; }

private:
    AssemblySlot& ChooseSlot(uint16_t frameId);
    AssemblySlot& EvictSlot();

    FrameSink sink_;
    std::array<AssemblySlot, kSlotCount> slots_;
};
