#include "camera/receivers/PacketListAssembler.h"
#include "FuzzInput.h"

#include <map>
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

} // namespace

// Family 6: after every datagram the frames handed off must be exactly the model's, in list order.
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
    for (Piece& piece : SplitAtTag(data, size)) {
        delivered.clear();
        assembler.Push(piece.bytes.get(), piece.size);
        CheckLimits(assembler);

        std::vector<Bytes> expected;
        if (piece.size > 20) {
            Bytes frame;
            for (int i = 0; i < Assembler::kListCount; ++i) {
                if (ModelFrame(assembler.list(i), frame))
                    expected.push_back(frame);
            }
        }
        FUZZ_CHECK(delivered == expected);
    }
    return 0;
}
