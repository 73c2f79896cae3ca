#include "camera/receivers/FragmentAssembler.h"
#include "FuzzInput.h"

#include <cstring>
#include <map>
#include <set>
#include <utility>

// Family 8: every delivered frame must be pieces 0 .. count - 1 of the frame id just received, each piece
// one that did arrive for that id and index, and the slots must stay within their fixed limits.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using Cell = std::vector<uint8_t>;
    constexpr int kPiece = FragmentAssembler::kPieceBytes;
    std::map<std::pair<uint16_t, int>, std::set<Cell>> arrived; // (frame id, index) -> padded pieces
    const uint8_t* current = nullptr;
    int currentSize = 0;
    int deliveries = 0;

    FragmentAssembler assembler([&](uint8_t* frame, int frameSize, int capacity) {
        FUZZ_CHECK(current != nullptr && currentSize >= 9);
        const uint16_t frameId = static_cast<uint16_t>(current[0] | current[1] << 8);
        FUZZ_CHECK(frameSize == current[2] * kPiece);
        FUZZ_CHECK(frameSize <= FragmentAssembler::kMaxFrameBytes);
        FUZZ_CHECK(capacity >= frameSize + 64);
        for (int i = 0; i < current[2]; ++i) {
            const Cell cell(frame + i * kPiece, frame + (i + 1) * kPiece);
            const auto seen = arrived.find({frameId, i});
            FUZZ_CHECK(seen != arrived.end() && seen->second.count(cell) == 1);
        }
        TouchPadding(frame, frameSize, capacity);
        ++deliveries;
    });

    for (Piece& piece : SplitAtTag(data, size)) {
        current = piece.bytes.get();
        currentSize = piece.size;
        if (piece.size >= 9 && current[3] < FragmentAssembler::kMaxPieces) {
            Cell cell(kPiece, 0);
            std::memcpy(cell.data(), current + 8, std::min(piece.size, 1450) - 8);
            arrived[{static_cast<uint16_t>(current[0] | current[1] << 8), current[3]}].insert(std::move(cell));
        }
        assembler.Push(piece.bytes.get(), piece.size);

        std::set<uint16_t> ids;
        for (int s = 0; s < FragmentAssembler::kSlotCount; ++s) {
            const auto& slot = assembler.slot(s);
            int flags = 0;
            for (bool received : slot.received)
                flags += received ? 1 : 0;
            FUZZ_CHECK(slot.count == static_cast<uint32_t>(flags));
            FUZZ_CHECK(slot.count <= static_cast<uint32_t>(FragmentAssembler::kMaxPieces));
            if (slot.frameId != 0)
                FUZZ_CHECK(ids.insert(slot.frameId).second);
        }
    }
    return 0;
}
