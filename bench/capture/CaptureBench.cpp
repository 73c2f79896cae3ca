// Recording costs against the anchor of one 50 ms tick: what x264 takes per 640x480 picture with the
// recording's settings, and the record thread's share of one core while it records 20 pictures a second.
#include "CpuClock.h"
#include "camera/CVideoClient.h"
#include "capture/CaptureTestSupport.h"
#include "capture/MP4Encoder.h"

#include <benchmark/benchmark.h>

#include <pthread.h>
#include <sys/resource.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

constexpr double kTickSeconds = 0.050;


void BM_EncodePicture(benchmark::State& state)
{
    ScratchFolders folders;
    std::vector<FramePtr> pictures;
    for (int i = 0; i < 20; ++i)
        pictures.push_back(MakeRecordFrame(i, AVCOL_RANGE_JPEG, MovingLuma));
    MP4Encoder encoder;
    const std::string file = (folders.temp / "bench.mp4").string();
    if (encoder.OpenFile(file.c_str()) == nullptr) {
        state.SkipWithError("cannot open the writer");
        return;
    }
    size_t next = 0;
    const double cpuStart = ThreadCpuSeconds();
    for (auto _ : state) {
        encoder.EncodePicture(*pictures[next]);
        next = (next + 1) % pictures.size();
    }
    const double cpuPerPicture = (ThreadCpuSeconds() - cpuStart) / static_cast<double>(state.iterations());
    encoder.CloseFile();
    for (FramePtr& picture : pictures)
        av_freep(&picture->data[0]);
    state.counters["cpu_ms_per_picture"] = cpuPerPicture * 1e3;
    state.counters["share_of_50ms_tick"] = cpuPerPicture / kTickSeconds;
}
BENCHMARK(BM_EncodePicture)->Unit(benchmark::kMillisecond)->MinTime(3.0);

// CPU of the record thread = the process's CPU minus the main and producer threads', over seconds of
// recording (the final rewrite of the file is not part of it).
void BM_RecordThreadCpuShare(benchmark::State& state)
{
    ScratchFolders folders;
    for (auto _ : state) {
        CVideoClient client;
        std::atomic<bool> stop{false};
        size_t maxQueued = 0;
        std::thread producer([&] { ProduceFrames(client, 20, stop, maxQueued, AVCOL_RANGE_JPEG); });
        clockid_t producerClock{};
        pthread_getcpuclockid(producer.native_handle(), &producerClock);
        auto producerCpu = [&] {
            timespec t{};
            clock_gettime(producerClock, &t);
            return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
        };

        client.StartRecording((folders.media / "bench.mp4").string());
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // past the start-up pause
        const double mainStart = ThreadCpuSeconds();
        const double producerStart = producerCpu();
        const double processStart = ProcessCpuSeconds();
        const auto wallStart = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(4));
        const double process = ProcessCpuSeconds() - processStart;
        const double producerUsed = producerCpu() - producerStart;
        const double mainUsed = ThreadCpuSeconds() - mainStart;
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        stop = true;
        producer.join();
        client.FinishRecording();

        const double record = process - mainUsed - producerUsed;
        state.SetIterationTime(wall);
        state.counters["record_thread_cpu_share"] = record / wall;
        state.counters["record_ms_per_50ms_tick"] = record / (wall / kTickSeconds) * 1e3;
        state.counters["producer_cpu_share"] = producerUsed / wall;
    }
}
BENCHMARK(BM_RecordThreadCpuShare)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
