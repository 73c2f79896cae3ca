#include "camera/receivers/PacketListAssembler.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

bool HasMarker(const PacketListAssembler::PacketRecord& record)
{
    return (record.data[1] & 0x80) != 0;
}

bool StartsImage(const PacketListAssembler::PacketRecord& record)
{
    // A record of 21 bytes holds one payload byte: it cannot start with the two-byte marker.
    return record.length >= PacketListAssembler::kHeaderBytes + 2 &&
           record.data[PacketListAssembler::kHeaderBytes] == 0xFF &&
           record.data[PacketListAssembler::kHeaderBytes + 1] == 0xD8;
}

} // namespace

int PacketListAssembler::JoinCapacity()
{
    return kMaxJoinedBytes + AV_INPUT_BUFFER_PADDING_SIZE;
}

PacketListAssembler::PacketListAssembler(FrameSink sink)
    : sink_(std::move(sink)), joined_(std::make_unique_for_overwrite<uint8_t[]>(JoinCapacity()))
{
}

void PacketListAssembler::ClearPacketList(PacketList& list)
{
    list.records.clear();
    list.sequences.reset();
    list.bytes = 0;
    list.markers = 0;
    list.sorted = true;
    list.changed = false;
}

void PacketListAssembler::Clear()
{
    for (PacketList& list : lists_)
        ClearPacketList(list);
    lastHandedOff_.reset();
}

PacketListAssembler::PacketList& PacketListAssembler::ChooseList(uint32_t frameNumber)
{
    // Emptiness first: right after a clear the first three datagrams take one list each, whatever
    // their frame numbers.
    for (PacketList& list : lists_) {
        if (list.records.empty())
            return list;
    }
    for (PacketList& list : lists_) {
        if (list.records.front().frameNumber == frameNumber)
            return list;
    }
    // Evict the smallest frame number, plain unsigned order; on a tie the later list goes.
    const uint32_t first = lists_[0].records.front().frameNumber;
    const uint32_t second = lists_[1].records.front().frameNumber;
    const uint32_t third = lists_[2].records.front().frameNumber;
    int victim = 0;
    if (first < second)
        victim = first < third ? 0 : 2;
    else
        victim = second < third ? 1 : 2;
    ClearPacketList(lists_[victim]);
    return lists_[victim];
}

void PacketListAssembler::Push(const uint8_t* datagram, int n)
{
    if (datagram == nullptr || n <= kHeaderBytes)
        return;
    n = std::min(n, kDatagramBytes);
    const uint16_t sequence = static_cast<uint16_t>(datagram[2] << 8 | datagram[3]);
    const uint32_t frameNumber = static_cast<uint32_t>(datagram[4]) << 24 |
                                 static_cast<uint32_t>(datagram[5]) << 16 |
                                 static_cast<uint32_t>(datagram[6]) << 8 | datagram[7];

    PacketList& list = ChooseList(frameNumber);
    const bool full = list.records.size() >= kMaxListRecords || list.bytes + n > kMaxListBytes;
    if (!list.sequences.test(sequence) && !full) {
        PacketRecord record;
        record.data.assign(datagram, datagram + n);
        record.sequence = sequence;
        record.length = n;
        record.frameNumber = frameNumber;
        if (!list.records.empty() && sequence < list.records.back().sequence)
            list.sorted = false;
        list.markers += HasMarker(record) ? 1 : 0;
        list.bytes += n;
        list.sequences.set(sequence);
        list.records.push_back(std::move(record));
        list.changed = true;
    }
    Scan();
}

void PacketListAssembler::Scan()
{
    // A list that did not change since it was last examined holds no frame that was not already handed
    // off or refused: looking again would repeat the frame on screen (or, after a restart of the frame
    // numbers, bring back an old one).
    for (PacketList& list : lists_) {
        if (!list.changed)
            continue;
        list.changed = false;
        if (list.markers > 0)
            HandOffIfWhole(list);
    }
}

bool PacketListAssembler::IsNewer(uint32_t frameNumber) const
{
    if (!lastHandedOff_)
        return true;
    // Serial-number order, so the numbers may wrap past 2^32.
    const int32_t ahead = static_cast<int32_t>(frameNumber - *lastHandedOff_);
    return ahead > 0 || ahead < -kRestartDistance;
}

void PacketListAssembler::HandOffIfWhole(PacketList& list)
{
    std::vector<PacketRecord>& records = list.records;
    // Every record of a list has the same frame number. A late frame is not shown: the live view must not
    // step back in time.
    if (!IsNewer(records.front().frameNumber))
        return;
    if (!list.sorted) {
        std::stable_sort(records.begin(), records.end(),
                         [](const PacketRecord& a, const PacketRecord& b) { return a.sequence < b.sequence; });
        list.sorted = true;
    }
    const auto soi = std::find_if(records.begin(), records.end(), StartsImage);
    if (soi == records.end())
        return;

    // Walk in serial-number order from the start-of-image packet: the sorted list read cyclically from
    // there. Packets more than half the number space ahead count as before the image and are left out,
    // so a frame whose numbers wrap past 65535 is joined whole and in order.
    const size_t start = static_cast<size_t>(soi - records.begin());
    const uint16_t first = soi->sequence;
    uint16_t expected = first;
    int joined = 0;
    for (size_t step = 0; step < records.size(); ++step) {
        const PacketRecord& record = records[(start + step) % records.size()];
        if (static_cast<uint16_t>(record.sequence - first) >= 0x8000)
            break;
        if (record.sequence != expected)
            return;
        const int payload = record.length - kHeaderBytes;
        if (joined + payload >= kMaxJoinedBytes)
            return;
        std::memcpy(joined_.get() + joined, record.data.data() + kHeaderBytes, payload);
        joined += payload;
        ++expected;
    }
    lastHandedOff_ = records.front().frameNumber;
    sink_(joined_.get(), joined, JoinCapacity());
}
