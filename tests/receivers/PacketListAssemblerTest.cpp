#include "camera/receivers/PacketListAssembler.h"
#include "receivers/Datagrams.h"
#include "receivers/SinkCollector.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Packet {
    uint16_t sequence;
    uint32_t frameNumber;
    bool marker = false;
    bool soi = false; // payload starts with FF D8
};

// The payload names its sequence number, so a joined frame shows its packets and their order.
std::vector<uint8_t> Payload(const Packet& packet)
{
    const uint8_t high = static_cast<uint8_t>(packet.sequence >> 8);
    const uint8_t low = static_cast<uint8_t>(packet.sequence);
    if (packet.soi)
        return {0xFF, 0xD8, high, low, 0xEE};
    return {high, low, 0xEE};
}

using Collector = SinkCollector;

void Push(PacketListAssembler& assembler, const Packet& packet)
{
    const auto datagram = Family6Datagram(packet.sequence, packet.frameNumber, packet.marker, Payload(packet));
    assembler.Push(datagram.data(), static_cast<int>(datagram.size()));
}

// Lists 1, 2, 3 take frames 1, 2, 3 (no marker, never whole), as after the first frames of a stream.
void Prime(PacketListAssembler& assembler)
{
    for (uint32_t frame = 1; frame <= 3; ++frame)
        Push(assembler, {static_cast<uint16_t>(60000 + frame), frame});
}

struct Case {
    std::string name;
    std::vector<Packet> packets;
    // Each delivery lists the packets it joins, in order; only the sequence number and soi flag matter.
    std::vector<std::vector<Packet>> delivered;
    bool primed = true;
};

std::vector<uint8_t> Joined(const std::vector<Packet>& packets)
{
    std::vector<uint8_t> bytes;
    for (const Packet& packet : packets) {
        const auto payload = Payload(packet);
        bytes.insert(bytes.end(), payload.begin(), payload.end());
    }
    return bytes;
}

class PacketListCases : public testing::TestWithParam<Case> {};

TEST_P(PacketListCases, HandsOffWholeFramesInSequenceOrder)
{
    Collector collector;
    PacketListAssembler assembler(collector.Sink());
    if (GetParam().primed)
        Prime(assembler);
    for (const Packet& packet : GetParam().packets)
        Push(assembler, packet);
    ASSERT_EQ(collector.frames.size(), GetParam().delivered.size());
    for (size_t i = 0; i < collector.frames.size(); ++i)
        EXPECT_EQ(collector.frames[i], Joined(GetParam().delivered[i])) << "delivery " << i;
}

const Packet S10{10, 4, false, true}, P11{11, 4}, M12{12, 4, true};

// A one-datagram frame: marker and start of image together.
constexpr Packet W(uint16_t sequence, uint32_t frameNumber)
{
    return {sequence, frameNumber, true, true};
}

INSTANTIATE_TEST_SUITE_P(
    Family6, PacketListCases,
    testing::Values(
        Case{"InOrder", {S10, P11, M12}, {{S10, P11, M12}}},
        // Nothing before the start-of-image packet arrives; then joined in sequence order at once.
        Case{"OutOfOrder", {P11, M12, S10}, {{S10, P11, M12}}},
        // A whole frame is handed off once: a repeated datagram or a stray one stored later shows it no more.
        Case{"DuplicateNotHandedOffAgain", {S10, P11, M12, P11, M12}, {{S10, P11, M12}}},
        Case{"StoreAfterHandOffNotHandedOffAgain", {S10, P11, M12, {13, 4}}, {{S10, P11, M12}}},
        Case{"GapNeverHandedOff", {S10, M12}, {}},
        Case{"NoMarkerNeverHandedOff", {S10, P11}, {}},
        Case{"OneDatagramFrame", {{20, 4, true, true}}, {{{20, 4, true, true}}}},
        // Packets numbered below the start-of-image packet are not part of the image.
        Case{"PacketsBeforeImageIgnored", {{9, 4}, S10, P11, M12}, {{S10, P11, M12}}},
        // Sequence numbers wrapping past 65535 inside one frame: joined whole, from the image start on,
        // whatever the arrival order.
        Case{"WrapInOrder",
             {{65534, 4, false, true}, {65535, 4}, {0, 4}, {1, 4, true}},
             {{{65534, 4, false, true}, {65535, 4}, {0, 4}, {1, 4, true}}}},
        Case{"WrapShuffled",
             {{1, 4, true}, {65535, 4}, {65534, 4, false, true}, {0, 4}},
             {{{65534, 4, false, true}, {65535, 4}, {0, 4}, {1, 4, true}}}},
        Case{"WrapStartAfterZero",
             {{65535, 4}, {0, 4, false, true}, {1, 4, true}},
             {{{0, 4, false, true}, {1, 4, true}}}},
        Case{"WrapWithGap", {{65534, 4, false, true}, {0, 4}, {1, 4, true}}, {}},
        // Frames completing as 7, 5, 6: the later-completing older frames are not shown.
        Case{"OlderFramesNotShown", {W(100, 7), W(200, 5), W(300, 6)}, {{W(100, 7)}}, false},
        // Frame 5 completing after frame 6 (its marker arrives late) is not shown.
        Case{"ReorderedCompletionNotShown",
             {{10, 5, false, true}, {20, 6, false, true}, {21, 6, true}, {11, 5, true}},
             {{{20, 6, false, true}, {21, 6, true}}}},
        // A late datagram of a frame older than all three lists evicts the smallest and waits alone; were
        // its frame whole, it would still not be shown.
        Case{"LateOldFrameEvictsSmallest",
             {W(30, 5), W(40, 6), W(50, 7), W(5, 2), W(60, 8)},
             {{W(30, 5)}, {W(40, 6)}, {W(50, 7)}, {W(60, 8)}},
             false},
        // Serial-number order: frame 0 follows frame 0xFFFFFFFF.
        Case{"FrameNumberWraps",
             {W(1, 0xFFFFFFFE), W(2, 0xFFFFFFFF), W(3, 0), W(4, 1)},
             {{W(1, 0xFFFFFFFE)}, {W(2, 0xFFFFFFFF)}, {W(3, 0)}, {W(4, 1)}},
             false},
        // A frame number more than 64 behind the last one shown is a camera that restarted its numbering:
        // shown, and counted from. 64 behind is still a late frame.
        Case{"RestartedNumberingShown",
             {W(1, 1000), W(2, 936), W(3, 935), W(4, 937)},
             {{W(1, 1000)}, {W(3, 935)}, {W(4, 937)}},
             false},
        Case{"RestartAtZeroShown",
             {W(100, 1001), W(101, 1002), W(0, 0), W(1, 1), W(2, 2)},
             {{W(100, 1001)}, {W(101, 1002)}, {W(0, 0)}, {W(1, 1)}, {W(2, 2)}},
             false}),
    [](const testing::TestParamInfo<Case>& param) { return param.param.name; });

// Right after a clear the first three datagrams take lists 1, 2 and 3 whatever their frame: the first
// frame is split, never whole; the next frame evicts list 3 (a tie, the later list goes) and is handed off.
TEST(PacketListAssembler, FirstThreeDatagramsTakeOneListEach)
{
    Collector collector;
    PacketListAssembler assembler(collector.Sink());
    const Packet first[] = {{1, 1, false, true}, {2, 1}, {3, 1}, {4, 1}, {5, 1, true}};
    for (const Packet& packet : first)
        Push(assembler, packet);
    EXPECT_EQ(assembler.list(0).records.size(), 3u);
    EXPECT_EQ(assembler.list(1).records.size(), 1u);
    EXPECT_EQ(assembler.list(2).records.size(), 1u);
    EXPECT_TRUE(collector.frames.empty());

    const Packet second[] = {{6, 2, false, true}, {7, 2, true}};
    for (const Packet& packet : second)
        Push(assembler, packet);
    EXPECT_EQ(assembler.list(1).records.size(), 1u);
    ASSERT_EQ(assembler.list(2).records.size(), 2u);
    EXPECT_EQ(assembler.list(2).records.front().frameNumber, 2u);
    ASSERT_EQ(collector.frames.size(), 1u);
    EXPECT_EQ(collector.frames[0], Joined({second[0], second[1]}));
}

TEST(PacketListAssembler, DropsShortDatagramsAndFailedReceives)
{
    Collector collector;
    PacketListAssembler assembler(collector.Sink());
    const auto datagram = Family6Datagram(1, 1, true, {0xFF});
    assembler.Push(datagram.data(), -1);
    assembler.Push(datagram.data(), 20);
    assembler.Push(nullptr, 30);
    EXPECT_TRUE(assembler.list(0).records.empty());
    // 21 bytes are stored, but one payload byte cannot start an image.
    assembler.Push(datagram.data(), 21);
    EXPECT_EQ(assembler.list(0).records.size(), 1u);
    EXPECT_TRUE(collector.frames.empty());
}

// Joined payloads must stay below 2 MiB: one byte less than that is handed off, exactly 2 MiB is not.
TEST(PacketListAssembler, JoinLimit)
{
    for (const int total : {PacketListAssembler::kMaxJoinedBytes - 1, PacketListAssembler::kMaxJoinedBytes}) {
        Collector collector;
        PacketListAssembler assembler(collector.Sink());
        Prime(assembler);
        std::vector<uint8_t> frame(static_cast<size_t>(total), 0x33);
        frame[0] = 0xFF;
        frame[1] = 0xD8;
        uint16_t sequence = 100;
        for (const auto& datagram : Family6Frame(sequence, 9, frame))
            assembler.Push(datagram.data(), static_cast<int>(datagram.size()));
        if (total < PacketListAssembler::kMaxJoinedBytes) {
            ASSERT_EQ(collector.frames.size(), 1u);
            EXPECT_EQ(collector.frames[0], frame);
        } else {
            EXPECT_TRUE(collector.frames.empty());
        }
    }
}

// A sender that keeps adding distinct sequence numbers to one frame cannot grow a list past its cap.
TEST(PacketListAssembler, ListGrowthIsCapped)
{
    Collector collector;
    PacketListAssembler assembler(collector.Sink());
    Prime(assembler);
    const std::vector<uint8_t> payload(1430, 0x44);
    for (int sequence = 0; sequence < 65536; ++sequence) {
        const auto datagram = Family6Datagram(static_cast<uint16_t>(sequence), 4, false, payload);
        assembler.Push(datagram.data(), static_cast<int>(datagram.size()));
    }
    const auto& list = assembler.list(0);
    EXPECT_LE(list.bytes, PacketListAssembler::kMaxListBytes);
    EXPECT_GT(list.bytes, PacketListAssembler::kMaxListBytes - 1450);
    EXPECT_EQ(list.bytes, list.records.size() * 1450);
}

// Clear also forgets the last frame shown, so a new stream may start at any frame number.
TEST(PacketListAssembler, ClearEmptiesAllListsAndForgetsLastFrame)
{
    Collector collector;
    PacketListAssembler assembler(collector.Sink());
    Prime(assembler);
    Push(assembler, {1, 8, true, true});
    assembler.Clear();
    for (int i = 0; i < PacketListAssembler::kListCount; ++i) {
        EXPECT_TRUE(assembler.list(i).records.empty());
        EXPECT_EQ(assembler.list(i).bytes, 0u);
    }
    Push(assembler, {1, 7, true, true});
    EXPECT_EQ(collector.frames.size(), 2u);
}

} // namespace
