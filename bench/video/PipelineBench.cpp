// Cost per picture of the frame pipeline, from compressed JPEG to the frame callback, against the
// bare libavcodec decode of the same pictures (the anchor), and of the two ways to zoom.
//
// Extra: VINDREL_BENCH_STREAMS="640x480=FILE 1280x720=FILE" adds the pictures of Motion JPEG files
// (as bench/vs-ffmpeg makes them) and prints "stream WxH ours_ms=... bare_ms=..." lines at the end.

#include "StreamFile.h"
#include "camera/CVideoClient.h"
#include "support/JpegFixtures.h"
#include "video/I420Frame.h"
#include "video/Zoom.h"

#include <benchmark/benchmark.h>
extern "C" {
#include <libavutil/imgutils.h>
}
#include <libyuv/convert.h>
#include <libyuv/scale.h>
#include <libyuv/video_common.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Pictures = std::vector<std::vector<uint8_t>>;

// Camera pictures carry sensor grain; without it JPEGs come out unrealistically small and cheap.
Painter GrainyScene(int w, int h, int seed)
{
    const Painter scene = ScenePainter(w, h);
    return [scene, seed](int x, int y) {
        Rgb c = scene(x + seed * 7, y);
        uint32_t n = static_cast<uint32_t>(x * 73856093) ^ static_cast<uint32_t>(y * 19349663) ^
                     static_cast<uint32_t>(seed * 83492791);
        n = (n ^ (n >> 13)) * 0x5bd1e995u;
        const int grain = static_cast<int>((n >> 24) % 17) - 8;
        auto add = [grain](uint8_t v) { return static_cast<uint8_t>(std::clamp(v + grain, 0, 255)); };
        return Rgb{add(c.r), add(c.g), add(c.b)};
    };
}

Pictures MakePictures(int w, int h, AVPixelFormat format)
{
    Pictures pictures;
    for (int seed = 0; seed < 4; ++seed)
        pictures.push_back(MakeJpeg(w, h, format, GrainyScene(w, h, seed)));
    return pictures;
}

void DropBitmap(BitmapPtr bitmap, void*)
{
    benchmark::DoNotOptimize(bitmap.get());
}

void RunPipeline(benchmark::State& state, const Pictures& pictures, float zoom, bool recording)
{
    CVideoClient client;
    client.frameCallback = &DropBitmap;
    client.SetupMjpegDecoder();
    client.zoom = zoom;
    client.recording = recording;
    size_t next = 0;
    for (auto _ : state) {
        const std::vector<uint8_t>& picture = pictures[next++ % pictures.size()];
        client.DecodeFrame(picture.data(), static_cast<int>(picture.size()));
        // The record thread's part: take the frame off the queue and free it.
        std::lock_guard<std::mutex> lock(client.queueMutex);
        client.recordQueue.clear();
    }
    state.counters["drops"] = static_cast<double>(client.recordDrops);
}

void RunBareDecode(benchmark::State& state, const Pictures& pictures)
{
    const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
    CodecContextPtr context(avcodec_alloc_context3(decoder));
    avcodec_open2(context.get(), decoder, nullptr);
    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    size_t next = 0;
    for (auto _ : state) {
        const std::vector<uint8_t>& picture = pictures[next++ % pictures.size()];
        packet->data = const_cast<uint8_t*>(picture.data());
        packet->size = static_cast<int>(picture.size());
        avcodec_send_packet(context.get(), packet.get());
        av_packet_unref(packet.get());
        if (avcodec_receive_frame(context.get(), frame.get()) == 0)
            av_frame_unref(frame.get());
    }
}

// The zoom by enlarging the whole picture and cropping its centre back out.
void RunScaleThenCrop(benchmark::State& state, int w, int h, float zoom)
{
    FramePtr work = AllocI420Frame(w, h);
    const ZoomWindow z = *ComputeZoom(w, h, zoom);
    for (auto _ : state) {
        FramePtr scratch(av_frame_alloc());
        av_image_alloc(scratch->data, scratch->linesize, z.zoomedWidth, z.zoomedHeight, AV_PIX_FMT_YUV420P,
                       1);
        libyuv::I420Scale(work->data[0], work->linesize[0], work->data[1], work->linesize[1], work->data[2],
                          work->linesize[2], w, h, scratch->data[0], scratch->linesize[0], scratch->data[1],
                          scratch->linesize[1], scratch->data[2], scratch->linesize[2], z.zoomedWidth,
                          z.zoomedHeight, libyuv::kFilterBilinear);
        libyuv::ConvertToI420(scratch->data[0], static_cast<size_t>(z.zoomedWidth) * z.zoomedHeight * 3 / 2,
                              work->data[0], work->linesize[0], work->data[1], work->linesize[1],
                              work->data[2], work->linesize[2], z.cropX, z.cropY, z.zoomedWidth,
                              z.zoomedHeight, w, h, libyuv::kRotate0, libyuv::FOURCC_I420);
        av_freep(&scratch->data[0]);
    }
}

void RunVisiblePart(benchmark::State& state, int w, int h, float zoom)
{
    FramePtr work = AllocI420Frame(w, h);
    FramePtr out = AllocI420Frame(w, h);
    std::vector<uint8_t> scratch;
    const ZoomWindow z = *ComputeZoom(w, h, zoom);
    for (auto _ : state) {
        ScaleVisiblePart(work->data[0], work->linesize[0], w, h, z.zoomedWidth, z.zoomedHeight, z.cropX,
                         z.cropY, out->data[0], out->linesize[0], w, h, scratch);
        for (int p = 1; p <= 2; ++p)
            ScaleVisiblePart(work->data[p], work->linesize[p], (w + 1) / 2, (h + 1) / 2, z.zoomedWidth / 2,
                             z.zoomedHeight / 2, z.cropX / 2, z.cropY / 2, out->data[p], out->linesize[p],
                             (w + 1) / 2, (h + 1) / 2, scratch);
    }
}

// Keeps each result's CPU time (the median when repetitions are asked for) for the summary. CPU time,
// because the machines these run on are shared and wall time there counts other people's work.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median")
                continue;
            std::string name = run.benchmark_name();
            if (run.run_type == Run::RT_Aggregate)
                name = name.substr(0, name.size() - std::string("_median").size());
            msPerPicture[name] = run.GetAdjustedCPUTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> msPerPicture;
};

struct Size {
    int w, h;
    std::string Name() const { return std::to_string(w) + "x" + std::to_string(h); }
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    av_log_set_level(AV_LOG_QUIET);
    const Size sizes[] = {{640, 480}, {1280, 720}};
    struct Layout {
        const char* name;
        AVPixelFormat format;
    };
    const Layout layouts[] = {{"422", AV_PIX_FMT_YUVJ422P}, {"420", AV_PIX_FMT_YUVJ420P}};
    std::vector<std::string> pipelineNames;

    static std::map<std::string, Pictures> store;
    for (const Size& size : sizes)
        for (const Layout& layout : layouts) {
            const std::string key = size.Name() + "/" + layout.name;
            store[key] = MakePictures(size.w, size.h, layout.format);
            const Pictures* pictures = &store[key];
            benchmark::RegisterBenchmark(("BareDecode/" + key).c_str(), [pictures](benchmark::State& s) {
                RunBareDecode(s, *pictures);
            })->Unit(benchmark::kMillisecond);
            for (float zoom : {1.0f, 1.5f})
                for (bool recording : {false, true}) {
                    std::ostringstream name;
                    name << "Pipeline/" << key << "/zoom" << zoom << "/rec" << recording;
                    pipelineNames.push_back(name.str());
                    benchmark::RegisterBenchmark(name.str().c_str(),
                                                 [pictures, zoom, recording](benchmark::State& s) {
                                                     RunPipeline(s, *pictures, zoom, recording);
                                                 })
                        ->Unit(benchmark::kMillisecond);
                }
        }
    for (const Size& size : sizes) {
        benchmark::RegisterBenchmark(
            ("Zoom/ScaleThenCrop/" + size.Name() + "/1.5").c_str(),
            [size](benchmark::State& s) { RunScaleThenCrop(s, size.w, size.h, 1.5f); })
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Zoom/VisiblePart/" + size.Name() + "/1.5").c_str(),
                                     [size](benchmark::State& s) { RunVisiblePart(s, size.w, size.h, 1.5f); })
            ->Unit(benchmark::kMillisecond);
    }

    // Streams from files: "640x480=/path/a.mjpeg 1280x720=/path/b.mjpeg".
    std::vector<std::string> streamSizes;
    if (const char* streams = std::getenv("VINDREL_BENCH_STREAMS")) {
        std::istringstream list(streams);
        std::string item;
        while (list >> item) {
            const size_t eq = item.find('=');
            if (eq == std::string::npos)
                continue;
            const std::string size = item.substr(0, eq);
            store["stream/" + size] = ReadMjpegFile(item.substr(eq + 1));
            const Pictures* pictures = &store["stream/" + size];
            if (pictures->empty()) {
                std::fprintf(stderr, "no pictures in %s\n", item.c_str());
                return 1;
            }
            streamSizes.push_back(size);
            benchmark::RegisterBenchmark(("Stream/Ours/" + size).c_str(), [pictures](benchmark::State& s) {
                RunPipeline(s, *pictures, 1.0f, false);
            })->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("Stream/Bare/" + size).c_str(), [pictures](benchmark::State& s) {
                RunBareDecode(s, *pictures);
            })->Unit(benchmark::kMillisecond);
        }
    }

    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\nCPU time per picture, against the bare decode of the same JPEGs (anchor):\n");
    for (const std::string& name : pipelineNames) {
        const std::string key = name.substr(std::string("Pipeline/").size(), name.find("/zoom") - 9);
        const auto ours = reporter.msPerPicture.find(name);
        const auto bare = reporter.msPerPicture.find("BareDecode/" + key);
        if (ours != reporter.msPerPicture.end() && bare != reporter.msPerPicture.end())
            std::printf("%-36s ours_ms=%.3f bare_ms=%.3f ratio=%.2f\n", name.c_str(), ours->second,
                        bare->second, ours->second / bare->second);
    }
    for (const Size& size : sizes) {
        const auto full = reporter.msPerPicture.find("Zoom/ScaleThenCrop/" + size.Name() + "/1.5");
        const auto part = reporter.msPerPicture.find("Zoom/VisiblePart/" + size.Name() + "/1.5");
        if (full != reporter.msPerPicture.end() && part != reporter.msPerPicture.end())
            std::printf("zoom 1.5 %-10s visible_ms=%.3f scale_then_crop_ms=%.3f ratio=%.2f\n",
                        size.Name().c_str(), part->second, full->second, part->second / full->second);
    }
    for (const std::string& size : streamSizes) {
        const auto ours = reporter.msPerPicture.find("Stream/Ours/" + size);
        const auto bare = reporter.msPerPicture.find("Stream/Bare/" + size);
        if (ours != reporter.msPerPicture.end() && bare != reporter.msPerPicture.end())
            std::printf("stream %s ours_ms=%.4f bare_ms=%.4f\n", size.c_str(), ours->second, bare->second);
    }
    benchmark::Shutdown();
    return 0;
}
