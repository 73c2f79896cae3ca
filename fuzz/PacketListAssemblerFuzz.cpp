#include "camera/receivers/PacketListAssembler.h"
#include "FuzzInput.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <set>

namespace {

using Assembler = PacketListAssembler;
using Bytes = std::vector<uint8_t>;

// What one list should hand off, worked out apart from the assembler: sequence numbers are unwrapped to
// 64 bits around the image's first packet (the lowest-numbered one whose payload starts FF D8), packets
// that unwrap below it are not part of the image, and the rest must be consecutive.
bool ModelFrame(const Assembler::PacketList& list, Bytes& frame)
{
    bool marker = false;
    int64_t start = -1;
    for (const auto& record : list.records) {
        marker = marker || (record.data[1] & 0x80) != 0;
        const bool soi = record.length >= 22 && record.data[20] == 0xFF && record.data[21] == 0xD8;
        if (soi && (start < 0 || record.sequence < start))
            start = record.sequence;
    }
    if (!marker || start < 0)
        return false;
    std::map<int64_t, const Assembler::PacketRecord*> ordered;
    for (const auto& record : list.records) {
        const int64_t unwrapped = start + static_cast<int16_t>(static_cast<uint16_t>(record.sequence - start));
        if (unwrapped >= start)
            ordered[unwrapped] = &record;
    }
    int64_t expected = start;
    frame.clear();
    for (const auto& [unwrapped, record] : ordered) {
        if (unwrapped != expected++)
            return false;
        frame.insert(frame.end(), record->data.begin() + 20, record->data.end());
    }
    return frame.size() < static_cast<size_t>(Assembler::kMaxJoinedBytes);
}

void CheckLimits(const Assembler& assembler)
{
    for (int i = 0; i < Assembler::kListCount; ++i) {
        const auto& list = assembler.list(i);
        FUZZ_CHECK(list.records.size() <= Assembler::kMaxListRecords);
        FUZZ_CHECK(list.bytes <= Assembler::kMaxListBytes);
        size_t bytes = 0;
        std::set<uint16_t> sequences;
        for (const auto& record : list.records) {
            FUZZ_CHECK(record.length > 20 && record.length <= Assembler::kDatagramBytes);
            FUZZ_CHECK(record.data.size() == static_cast<size_t>(record.length));
            FUZZ_CHECK(record.frameNumber == list.records.front().frameNumber);
            FUZZ_CHECK(sequences.insert(record.sequence).second);
            bytes += static_cast<size_t>(record.length);
        }
        FUZZ_CHECK(bytes == list.bytes);
    }
}

// What the model knows of a list, to tell whether a datagram changed it: its frame number and the sequence
// numbers it holds (eviction always brings a new frame number, a store always a new sequence number).
struct ListShape {
    uint32_t frameNumber = 0;
    std::vector<uint16_t> sequences;
    bool operator==(const ListShape&) const = default;
};

ListShape Shape(const Assembler::PacketList& list)
{
    ListShape shape;
    if (!list.records.empty())
        shape.frameNumber = list.records.front().frameNumber;
    for (const auto& record : list.records)
        shape.sequences.push_back(record.sequence);
    std::sort(shape.sequences.begin(), shape.sequences.end());
    return shape;
}

// A frame is shown when it is newer than the last one shown (32-bit serial order), or more than 64 behind
// it (the camera restarted its numbering).
bool Shown(std::optional<uint32_t>& last, uint32_t frameNumber)
{
    if (last) {
        const int64_t ahead = (static_cast<int64_t>(frameNumber) - *last) & 0xFFFFFFFF;
        const int64_t serial = ahead >= 0x80000000 ? ahead - 0x100000000 : ahead;
        if (serial <= 0 && serial >= -64)
            return false;
    }
    last = frameNumber;
    return true;
}

} // namespace

// Family 6: after every datagram the frames handed off must be exactly the model's: a list that the
// datagram changed and that holds a whole frame newer than the last shown (or from a restart).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // One assembler for all inputs, cleared to its fresh state each time: its 2 MiB join buffer would
    // otherwise be mapped and unmapped per input, which dominates the run time.
    static std::vector<Bytes> delivered;
    static Assembler assembler([](uint8_t* frame, int frameSize, int capacity) {
        FUZZ_CHECK(capacity >= frameSize + 64);
        delivered.emplace_back(frame, frame + frameSize);
        TouchPadding(frame, frameSize, capacity);
    });
    assembler.Clear();
    std::optional<uint32_t> last;
    std::array<ListShape, Assembler::kListCount> shapes{};
    for (Piece& piece : SplitAtTag(data, size)) {
        delivered.clear();
        assembler.Push(piece.bytes.get(), piece.size);
        CheckLimits(assembler);

        std::vector<Bytes> expected;
        Bytes frame;
        for (int i = 0; i < Assembler::kListCount; ++i) {
            const auto& list = assembler.list(i);
            ListShape shape = Shape(list);
            const bool changed = !(shape == shapes[static_cast<size_t>(i)]);
            shapes[static_cast<size_t>(i)] = std::move(shape);
            if (changed && ModelFrame(list, frame) && Shown(last, list.records.front().frameNumber))
                expected.push_back(frame);
        }
        FUZZ_CHECK(expected.size() <= 1);
        FUZZ_CHECK(delivered == expected);
    }
    return 0;
}
