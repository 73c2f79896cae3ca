// GUI-thread cost of one displayed 1280x720 picture: the hand-over from DisplayFrame, the queued call and
// the fitted, nearest-neighbour paint into the video area. Anchor: one plain copy of the same bitmap.
// Run with QT_QPA_PLATFORM=offscreen.
#include "app/CVindrelDlg.h"
#include "app/MyCStatic.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

std::vector<BitmapPtr> MakePictures() {
    std::vector<BitmapPtr> pictures;
    for (int i = 0; i < 4; ++i) {
        auto bitmap = std::make_shared<Bitmap>();
        bitmap->width = kWidth;
        bitmap->height = kHeight;
        bitmap->pixels.assign(static_cast<size_t>(kWidth) * kHeight * 4, static_cast<uint8_t>(40 * i + 20));
        pictures.push_back(std::move(bitmap));
    }
    return pictures;
}

LinkConfig NoCamera() {
    LinkConfig config;
    config.adapters = []() -> std::optional<std::vector<AdapterInfo>> { return std::vector<AdapterInfo>{}; };
    return config;
}

void BM_CopyBitmap(benchmark::State& state) {
    const auto pictures = MakePictures();
    std::vector<uint8_t> target(pictures[0]->pixels.size());
    size_t i = 0;
    for (auto _ : state) {
        std::memcpy(target.data(), pictures[i++ % pictures.size()]->pixels.data(), target.size());
        benchmark::DoNotOptimize(target.data());
    }
}
BENCHMARK(BM_CopyBitmap)->Unit(benchmark::kMicrosecond);

void BM_DisplayPicture(benchmark::State& state) {
    CVindrelDlg dialog(CVindrelDlg::Options{NoCamera(), {}});
    dialog.show();
    QCoreApplication::processEvents();
    const auto pictures = MakePictures();
    size_t i = 0;
    for (auto _ : state) {
        DisplayFrame(pictures[i++ % pictures.size()], &dialog);
        QCoreApplication::processEvents();
        dialog.videoView()->repaint();
    }
    state.counters["painted"] = static_cast<double>(dialog.videoView()->picturesPainted());
}
BENCHMARK(BM_DisplayPicture)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QTemporaryDir dir; // the window makes its media folder here
    QDir::setCurrent(dir.path());
    // The window finishes unfinished recordings it finds under TMPDIR into its media folder: never a
    // user's into this throw-away one.
    qputenv("TMPDIR", dir.path().toLocal8Bit());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
