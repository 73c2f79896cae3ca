// Receive-thread cost with the simulator streaming on loopback, and the cost of an idle receive loop.
#include "camera/CVideoClient.h"
#include "camsim/CameraSimulator.h"
#include "support/FreePort.h"
#include "CpuClock.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Runs on the receive thread: its own CPU clock tells what the whole receive path costs.
struct ReceiveCost {
    std::atomic<int64_t> frames{0};
    std::atomic<double> firstCpu{0};
    std::atomic<double> lastCpu{0};

    static void OnFrame(BitmapPtr, void* user)
    {
        auto* self = static_cast<ReceiveCost*>(user);
        const double cpu = ThreadCpuSeconds();
        if (self->frames.fetch_add(1) == 0)
            self->firstCpu = cpu;
        self->lastCpu = cpu;
    }
};

const char* AdapterFor(int family) { return family == 6 ? "192.168.28.40" : "192.168.29.40"; }

void StreamFor(benchmark::State& state, int family, int width, int height)
{
    const auto seconds = std::chrono::seconds(state.range(0));
    for (auto _ : state) {
        camsim::SimOptions options;
        options.family = family;
        options.width = width;
        options.height = height;
        options.fps = 30;
        options.udpTargetPort = FreePort(SOCK_DGRAM);
        camsim::CameraSimulator simulator(options);
        if (!simulator.Start()) {
            state.SkipWithError(simulator.error().c_str());
            return;
        }
        CVideoClient client(LinkConfig::Loopback(AdapterFor(family), simulator.commandPort(), simulator.tcpPort(),
                                                 options.udpTargetPort));
        ReceiveCost cost;
        client.frameCallback = &ReceiveCost::OnFrame;
        client.callbackUser = &cost;
        client.Start();
        std::this_thread::sleep_for(seconds);
        client.Stop();
        const double frames = static_cast<double>(cost.frames.load());
        state.counters["frames_sent"] = static_cast<double>(simulator.framesSent());
        state.counters["frames_delivered"] = frames;
        state.counters["receive_cpu_ms_per_frame"] =
            frames > 1 ? (cost.lastCpu - cost.firstCpu) * 1000.0 / (frames - 1) : 0.0;
    }
}

void BM_Family6_1280x720_30fps(benchmark::State& state) { StreamFor(state, 6, 1280, 720); }
void BM_Family8_640x480_30fps(benchmark::State& state) { StreamFor(state, 8, 640, 480); }

// The camera is silent: what the 1 ms polling loop alone costs.
void BM_IdleUdpReceiveLoop(benchmark::State& state)
{
    for (auto _ : state) {
        CVideoClient client(LinkConfig::Loopback("192.168.29.40", FreePort(SOCK_DGRAM), 1, FreePort(SOCK_DGRAM)));
        client.Start();
        const double before = ProcessCpuSeconds();
        std::this_thread::sleep_for(5s);
        const double used = ProcessCpuSeconds() - before;
        client.Stop();
        state.counters["idle_cpu_percent_of_a_core"] = used / 5.0 * 100.0;
    }
}

} // namespace

BENCHMARK(BM_Family6_1280x720_30fps)->Arg(20)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_Family8_640x480_30fps)->Arg(20)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_IdleUdpReceiveLoop)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK_MAIN();
