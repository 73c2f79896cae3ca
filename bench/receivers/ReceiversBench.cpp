// Cost of the byte-level assemblers per datagram (families 8 and 6) and per 1000-byte chunk (family 9), on
// real test-pattern JPEGs. The anchor is a plain copy of the same datagrams into one buffer: the least any
// assembler must do with the bytes.
#include "camera/receivers/FragmentAssembler.h"
#include "camera/receivers/JpegStreamCutter.h"
#include "camera/receivers/PacketListAssembler.h"
#include "camsim/Packetize.h"
#include "receivers/Datagrams.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>

namespace {

using Bytes = std::vector<uint8_t>;
using Datagrams = std::vector<Bytes>;

enum class Order { InOrder, Reordered };
constexpr int kFrames = 32;

struct Size {
    int width;
    int height;
};
constexpr Size kSizes[] = {{640, 480}, {1280, 720}};

// The test pattern at the best quality that fits the limit (family 8 frames hold at most 72100 bytes).
Bytes Jpeg(Size size, uint32_t frame, size_t limit)
{
    for (int quality = 85; quality >= 20; quality -= 5) {
        Bytes jpeg = camsim::EncodeTestJpeg(size.width, size.height, frame, quality);
        if (!jpeg.empty() && jpeg.size() <= limit)
            return jpeg;
    }
    return {};
}

// The order in which a frame's datagrams are pushed: neighbours swapped here and there, as Wi-Fi reorders;
// the first (start of image) and the last (marker) move too.
std::vector<size_t> PushOrder(size_t count, Order order)
{
    std::vector<size_t> positions(count);
    for (size_t i = 0; i < count; ++i)
        positions[i] = i;
    if (order == Order::Reordered) {
        for (size_t i = 0; i + 1 < count; i += 3)
            std::swap(positions[i], positions[i + 1]);
    }
    return positions;
}

void Reorder(Datagrams& frame)
{
    Datagrams reordered;
    for (size_t position : PushOrder(frame.size(), Order::Reordered))
        reordered.push_back(frame[position]);
    frame = std::move(reordered);
}

std::vector<Datagrams> Family8Frames(Size size, Order order)
{
    std::vector<Datagrams> frames;
    for (int i = 0; i < kFrames; ++i) {
        Datagrams frame = camsim::PacketizeFamily8(Jpeg(size, static_cast<uint32_t>(i), 72100),
                                                   static_cast<uint16_t>(i + 1));
        if (order == Order::Reordered)
            Reorder(frame);
        frames.push_back(std::move(frame));
    }
    return frames;
}

// In sending order; Family6 pushes them in PushOrder after giving them fresh numbers.
std::vector<Datagrams> Family6Frames(Size size)
{
    std::vector<Datagrams> frames;
    uint16_t sequence = 0;
    for (int i = 0; i < kFrames; ++i)
        frames.push_back(camsim::PacketizeFamily6(Jpeg(size, static_cast<uint32_t>(i), 1 << 20), sequence,
                                                  static_cast<uint32_t>(i)));
    return frames;
}

// Family-6 frame numbers must keep growing, so each pass over the prepared frames renumbers them.
void Renumber(Datagrams& frame, uint32_t frameNumber, uint16_t& sequence)
{
    for (Bytes& datagram : frame) {
        datagram[2] = static_cast<uint8_t>(sequence >> 8);
        datagram[3] = static_cast<uint8_t>(sequence);
        ++sequence;
        for (int b = 0; b < 4; ++b)
            datagram[4 + b] = static_cast<uint8_t>(frameNumber >> (24 - 8 * b));
    }
}

// handoffs: frames given to the sink; frames: frames sent. Each whole frame is handed off once, so the
// ratio stays at 1 (the first frame after a start is split across the lists and never whole).
void SetPerDatagram(benchmark::State& state, int64_t datagrams, int64_t handoffs, int64_t frames)
{
    state.counters["per_datagram"] =
        benchmark::Counter(static_cast<double>(datagrams), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    if (frames > 0)
        state.counters["handoffs_per_frame"] = static_cast<double>(handoffs) / static_cast<double>(frames);
}

void CopyAnchor(benchmark::State& state, const std::vector<Datagrams>& frames)
{
    Bytes target(1450);
    int64_t datagrams = 0;
    for (auto _ : state) {
        for (const Datagrams& frame : frames) {
            for (const Bytes& datagram : frame) {
                std::memcpy(target.data(), datagram.data(), datagram.size());
                benchmark::DoNotOptimize(target.data());
                ++datagrams;
            }
        }
    }
    SetPerDatagram(state, datagrams, 0, 0);
}

void Family8(benchmark::State& state, Size size, Order order)
{
    const auto frames = Family8Frames(size, order);
    int64_t delivered = 0;
    int64_t datagrams = 0;
    int64_t sent = 0;
    FragmentAssembler assembler([&](uint8_t*, int, int) { ++delivered; });
    for (auto _ : state) {
        for (const Datagrams& frame : frames) {
            for (const Bytes& datagram : frame) {
                assembler.Push(datagram.data(), static_cast<int>(datagram.size()));
                ++datagrams;
            }
            ++sent;
        }
    }
    SetPerDatagram(state, datagrams, delivered, sent);
}

void Family6(benchmark::State& state, Size size, Order order)
{
    auto frames = Family6Frames(size);
    std::vector<std::vector<size_t>> orders;
    for (const Datagrams& frame : frames)
        orders.push_back(PushOrder(frame.size(), order));
    int64_t delivered = 0;
    int64_t datagrams = 0;
    uint32_t frameNumber = 0;
    uint16_t sequence = 0;
    PacketListAssembler assembler([&](uint8_t*, int, int) { ++delivered; });
    for (auto _ : state) {
        for (size_t f = 0; f < frames.size(); ++f) {
            Renumber(frames[f], frameNumber++, sequence);
            for (size_t position : orders[f]) {
                const Bytes& datagram = frames[f][position];
                assembler.Push(datagram.data(), static_cast<int>(datagram.size()));
                ++datagrams;
            }
        }
    }
    SetPerDatagram(state, datagrams, delivered, frameNumber);
}

void Family9(benchmark::State& state)
{
    Bytes stream;
    const std::string junk = "--frame\r\nContent-Type: image/jpeg\r\n\r\n";
    for (uint32_t i = 0; i < kFrames; ++i) {
        const Bytes jpeg = Jpeg(kSizes[0], i, 1 << 20);
        stream.insert(stream.end(), junk.begin(), junk.end());
        stream.insert(stream.end(), jpeg.begin(), jpeg.end());
    }
    int64_t delivered = 0;
    int64_t chunks = 0;
    int64_t sent = 0;
    JpegStreamCutter cutter([&](uint8_t*, int, int) { ++delivered; });
    for (auto _ : state) {
        for (size_t at = 0; at < stream.size(); at += 1000) {
            cutter.Push(stream.data() + at, static_cast<int>(std::min<size_t>(1000, stream.size() - at)));
            ++chunks;
        }
        sent += kFrames;
    }
    SetPerDatagram(state, chunks, delivered, sent);
}

std::string SizeName(Size size)
{
    return std::to_string(size.width) + "x" + std::to_string(size.height);
}

// Prints the usual table, then ns per datagram and the ratio to the copy anchor of the same frames.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto counter = run.counters.find("per_datagram");
            if (counter != run.counters.end())
                perDatagramNs_[run.benchmark_name()] = counter->second.value * 1e9;
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::printf("\n%-44s %14s %12s\n", "assembler", "ns/datagram", "x anchor");
        for (const auto& [name, ns] : perDatagramNs_) {
            if (name.rfind("Anchor", 0) == 0)
                continue;
            const std::string group = name.substr(name.find('/') + 1);
            const auto anchor = perDatagramNs_.find("AnchorCopy/" + group.substr(0, group.find('/')));
            if (anchor == perDatagramNs_.end() || anchor->second <= 0)
                std::printf("%-44s %14.1f %12s\n", name.c_str(), ns, "-");
            else
                std::printf("%-44s %14.1f %12.1f\n", name.c_str(), ns, ns / anchor->second);
        }
        std::printf("(family 9: ns per 1000-byte chunk; anchor: copying the same datagrams once)\n");
    }

private:
    std::map<std::string, double> perDatagramNs_;
};

} // namespace

int main(int argc, char** argv)
{
    for (const Size size : kSizes) {
        const std::string name = SizeName(size);
        const auto anchorFrames = std::make_shared<const std::vector<Datagrams>>(Family8Frames(size, Order::InOrder));
        benchmark::RegisterBenchmark(("AnchorCopy/" + name).c_str(),
                                     [anchorFrames](benchmark::State& state) { CopyAnchor(state, *anchorFrames); });
        for (const Order order : {Order::InOrder, Order::Reordered}) {
            const std::string suffix = name + (order == Order::InOrder ? "/in_order" : "/reordered");
            benchmark::RegisterBenchmark(("Family8/" + suffix).c_str(), Family8, size, order);
            benchmark::RegisterBenchmark(("Family6/" + suffix).c_str(), Family6, size, order);
        }
    }
    benchmark::RegisterBenchmark("Family9/640x480/chunks_1000", Family9);
    benchmark::Initialize(&argc, argv);
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
