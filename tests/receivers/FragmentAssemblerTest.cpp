#include "camera/receivers/FragmentAssembler.h"
#include "receivers/Datagrams.h"
#include "receivers/SinkCollector.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr int kPiece = FragmentAssembler::kPieceBytes;

// Each piece is filled with a byte of its own, so a frame shows which pieces it holds and in what order.
uint8_t Fill(uint16_t frameId, int index)
{
    return static_cast<uint8_t>(frameId * 16 + index + 1);
}

struct Piece {
    uint16_t frameId;
    uint8_t count;
    uint8_t index;
};

struct Frame {
    uint16_t frameId;
    int pieces; // pieces 0 .. pieces - 1 of frameId
};

using Collector = SinkCollector;

std::vector<uint8_t> Expected(const Frame& frame)
{
    std::vector<uint8_t> bytes;
    for (int i = 0; i < frame.pieces; ++i)
        bytes.insert(bytes.end(), kPiece, Fill(frame.frameId, i));
    return bytes;
}

void Push(FragmentAssembler& assembler, const Piece& piece)
{
    const auto datagram =
        Family8Datagram(piece.frameId, piece.count, piece.index,
                        std::vector<uint8_t>(kPiece, Fill(piece.frameId, piece.index)));
    assembler.Push(datagram.data(), static_cast<int>(datagram.size()));
}

struct Case {
    std::string name;
    std::vector<Piece> pieces;
    std::vector<Frame> delivered;
};

class FragmentCases : public testing::TestWithParam<Case> {};

TEST_P(FragmentCases, DeliversWholeFramesInPieceOrder)
{
    Collector collector;
    FragmentAssembler assembler(collector.Sink());
    for (const Piece& piece : GetParam().pieces)
        Push(assembler, piece);
    ASSERT_EQ(collector.frames.size(), GetParam().delivered.size());
    for (size_t i = 0; i < collector.frames.size(); ++i)
        EXPECT_EQ(collector.frames[i], Expected(GetParam().delivered[i])) << "frame " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Family8, FragmentCases,
    testing::Values(
        // Would catch hand-off in arrival order instead of index order.
        Case{"OutOfOrder", {{7, 3, 2}, {7, 3, 0}, {7, 3, 1}}, {{7, 3}}},
        // A repeated piece counted twice would reach the count with a gap and lose the frame.
        Case{"DuplicateCountedOnce", {{7, 2, 0}, {7, 2, 0}, {7, 2, 1}}, {{7, 2}}},
        // Four ids at once: the smallest (10) is evicted and loses piece 0; 11 and 12 still complete, and
        // 10's late piece starts afresh in a freed slot.
        Case{"EvictsSmallestId",
             {{10, 2, 0}, {11, 2, 0}, {12, 2, 0}, {13, 2, 0}, {11, 2, 1}, {12, 2, 1}, {10, 2, 1}},
             {{11, 2}, {12, 2}}},
        // Ids compare as plain numbers: after a wrap the stale 65535 survives and the newer 1 is evicted.
        Case{"EvictionIgnoresWrap",
             {{65535, 2, 0}, {1, 2, 0}, {2, 2, 0}, {3, 2, 0}, {1, 2, 1}, {65535, 2, 1}},
             {{65535, 2}}},
        Case{"PieceCountZeroHandsOffNothingAtOnce", {{5, 0, 0}}, {{5, 0}}},
        // Index 50 is outside the 50 cells; a frame announcing 51 pieces therefore never completes.
        Case{"IndexFiftyDropped", {{5, 51, 50}, {5, 1, 0}}, {{5, 1}}},
        // Count reached with piece 0 missing: the slot is reset without a hand-off.
        Case{"CountReachedWithGap", {{5, 2, 1}, {5, 2, 3}, {5, 2, 0}}, {}},
        Case{"InterleavedFrames", {{1, 2, 1}, {2, 2, 0}, {1, 2, 0}, {2, 2, 1}}, {{1, 2}, {2, 2}}},
        Case{"FullFrameOfFiftyPieces",
             [] {
                 std::vector<Piece> pieces;
                 for (int i = 49; i >= 0; --i)
                     pieces.push_back({9, 50, static_cast<uint8_t>(i)});
                 return pieces;
             }(),
             {{9, 50}}}),
    [](const testing::TestParamInfo<Case>& param) { return param.param.name; });

TEST(FragmentAssembler, DropsShortAndFailedReceives)
{
    Collector collector;
    FragmentAssembler assembler(collector.Sink());
    const auto datagram = Family8Datagram(3, 1, 0, std::vector<uint8_t>(kPiece, 0x42));
    assembler.Push(datagram.data(), -1);
    assembler.Push(datagram.data(), 0);
    assembler.Push(datagram.data(), 8);
    assembler.Push(nullptr, 100);
    EXPECT_TRUE(collector.frames.empty());
    for (int i = 0; i < FragmentAssembler::kSlotCount; ++i)
        EXPECT_EQ(assembler.slot(i).frameId, 0);
    assembler.Push(datagram.data(), 9); // the smallest piece that counts
    ASSERT_EQ(collector.frames.size(), 1u);
}

// A short piece must not hand off bytes left in its cell by an earlier datagram of another frame.
TEST(FragmentAssembler, ShortPieceTailIsZero)
{
    Collector collector;
    FragmentAssembler assembler(collector.Sink());
    const auto full = Family8Datagram(1, 1, 0, std::vector<uint8_t>(kPiece, 0xAA));
    assembler.Push(full.data(), static_cast<int>(full.size()));
    const auto shortPiece = Family8Datagram(2, 1, 0, std::vector<uint8_t>(100, 0x55));
    assembler.Push(shortPiece.data(), static_cast<int>(shortPiece.size()));

    ASSERT_EQ(collector.frames.size(), 2u);
    std::vector<uint8_t> expected(kPiece, 0);
    std::fill_n(expected.begin(), 100, 0x55);
    EXPECT_EQ(collector.frames[1], expected);
}

// Bytes past 1450 are not part of the piece and must not spill into the next cell.
TEST(FragmentAssembler, LongDatagramReadsOnlyItsCell)
{
    Collector collector;
    FragmentAssembler assembler(collector.Sink());
    const auto second = Family8Datagram(4, 2, 1, std::vector<uint8_t>(kPiece, 0x22));
    assembler.Push(second.data(), static_cast<int>(second.size()));
    const auto first = Family8Datagram(4, 2, 0, std::vector<uint8_t>(2000, 0x11));
    assembler.Push(first.data(), static_cast<int>(first.size()));

    ASSERT_EQ(collector.frames.size(), 1u);
    std::vector<uint8_t> expected(kPiece, 0x11);
    expected.insert(expected.end(), kPiece, 0x22);
    EXPECT_EQ(collector.frames[0], expected);
}

// Frame id 0 is stored in a free slot but keeps the slot free, so the next new id takes and resets it.
TEST(FragmentAssembler, FrameIdZeroKeepsSlotFree)
{
    Collector collector;
    FragmentAssembler assembler(collector.Sink());
    Push(assembler, {0, 2, 0});
    EXPECT_EQ(assembler.slot(0).frameId, 0);
    EXPECT_EQ(assembler.slot(0).count, 1u);
    Push(assembler, {6, 2, 1});
    EXPECT_EQ(assembler.slot(0).frameId, 6);
    EXPECT_EQ(assembler.slot(0).count, 1u); // the id-0 piece went with the reset
    Push(assembler, {6, 2, 0});
    ASSERT_EQ(collector.frames.size(), 1u);
    EXPECT_EQ(collector.frames[0], Expected({6, 2}));
}

TEST(FragmentAssembler, ResetDropsPartialFrames)
{
    Collector collector;
    FragmentAssembler assembler(collector.Sink());
    Push(assembler, {8, 2, 0});
    assembler.Reset();
    Push(assembler, {8, 2, 1});
    EXPECT_TRUE(collector.frames.empty());
    Push(assembler, {8, 2, 0});
    EXPECT_EQ(collector.frames.size(), 1u);
}

} // namespace
