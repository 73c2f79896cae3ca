#pragma once

#include "camera/receivers/FrameSink.h"

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// Family 6: a JPEG frame arrives as a run of datagrams with an RTP-like header (byte 1 bit 7 marker,
// bytes 2-3 sequence number and 4-7 frame number, both big-endian) and payload from byte 20. Datagrams
// are kept in three PacketLists; when a stored datagram makes its list hold a whole frame (a marker, a
// start-of-image payload and an unbroken run of sequence numbers from there on), the frame is joined and
// handed off once, and only if it is newer than the last frame handed off, so the picture never steps back.
class PacketListAssembler {
public:
    static constexpr int kHeaderBytes = 20;
    static constexpr int kDatagramBytes = 1450; // longer datagrams are cut here
    static constexpr int kMaxJoinedBytes = 0x200000;
    static constexpr int kListCount = 3;
    // A hostile sender can keep adding distinct sequence numbers to one list. Sequence numbers are never
    // stored twice, which caps the records at 65536; the byte cap keeps that from meaning ~95 MB per list
    // while leaving room for any frame that could be joined (joins stay below 2 MiB of payload).
    static constexpr size_t kMaxListRecords = 65536;
    static constexpr size_t kMaxListBytes = 4 * 1024 * 1024;
    // A frame number more than this far behind the last one handed off means the camera restarted its
    // numbering and is shown; one closer behind is a late frame and is not.
    static constexpr int32_t kRestartDistance = 64;

    // One stored datagram, header included.
    struct PacketRecord {
        std::vector<uint8_t> data; // exactly length bytes as received
        uint16_t sequence = 0;
        int32_t length = 0;
        uint32_t frameNumber = 0;
    };
    struct PacketList {
        std::vector<PacketRecord> records; // in arrival order until a scan sorts them
        std::bitset<65536> sequences;      // which sequence numbers are held, for the duplicate rule
        size_t bytes = 0;                  // sum of the records' lengths
        int markers = 0;                   // records with the marker bit
        bool sorted = true;
        bool changed = false; // stored to since last examined: only then can it hold a frame not yet shown
    };

    explicit PacketListAssembler(FrameSink sink);
    void Push(const uint8_t* datagram, int n); // n = receive result (may be negative); reads at most 1450
    void Clear();                              // all three lists, and the last frame number handed off

    static void ClearPacketList(PacketList& list);

    const PacketList& list(int index) const { return lists_[index]; }
    static int JoinCapacity();

private:
    PacketList& ChooseList(uint32_t frameNumber);
    void Scan();
    void HandOffIfWhole(PacketList& list);
    bool IsNewer(uint32_t frameNumber) const;

    FrameSink sink_;
    std::array<PacketList, kListCount> lists_;
    std::unique_ptr<uint8_t[]> joined_; // the frame buffer, with room for the decoder's padding
    std::optional<uint32_t> lastHandedOff_;
};
