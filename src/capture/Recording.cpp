// Recording: the client's StartRecording and its record thread.
#include "camera/CVideoClient.h"

#include "capture/MediaFolder.h"
#include "capture/Recovery.h"

#include <chrono>
#include <filesystem>
#include <system_error>

namespace {

// Queued frames come from av_image_alloc (data not reference counted) or from a frame pool; each
// needs its own release.
void ReleaseFrame(FramePtr frame)
{
    if (frame && frame->buf[0] == nullptr)
        av_freep(&frame->data[0]);
}

void ReleaseAll(std::deque<FramePtr>& queue)
{
    while (!queue.empty()) {
        ReleaseFrame(std::move(queue.front()));
        queue.pop_front();
    }
}

} // namespace

int CVideoClient::StartRecording(std::string finalPath)
{
    // Set from the start, so that a second start cannot open the encoder twice and a stop that comes
    // before the thread has settled is not undone by it.
    if (recording)
        return 0;
    // A previous recording may still be finishing its file with this encoder.
    if (recordThread_.joinable())
        recordThread_.join();
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        ReleaseAll(recordQueue); // stale pictures of an earlier recording
    }

    const std::filesystem::path folder = UnfinishedRecordingsFolder();
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    // A name left there by an earlier run is kept for recovery, not overwritten.
    const std::filesystem::path name = std::filesystem::path(finalPath).filename();
    recordTempPath =
        FreePath(folder / (name.empty() ? std::filesystem::path("recording.mp4") : name)).string();
    encoder.OpenFile(recordTempPath.c_str());
    recordPath = std::move(finalPath);
    recordFps = 20;
    recording = true;
    recordThreadId = recordThreadId == kNoThread ? 1 : recordThreadId + 1;
    recordThread_ = std::thread(&CVideoClient::RecordThread, this);
    return 0;
}

void CVideoClient::FinishRecording()
{
    recording = false;
    if (recordThread_.joinable())
        recordThread_.join();
}

void CVideoClient::RecordThread()
{
    using Clock = std::chrono::steady_clock;
    // Gives the pipeline a moment to queue the first picture.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto period = std::chrono::milliseconds(1000 / recordFps);
    auto tickStart = Clock::now();
    while (recording) {
        // Only this thread removes frames, so a lone frame left in the queue stays valid while it is
        // encoded outside the lock; the producer only appends.
        AVFrame* picture = nullptr;
        FramePtr taken;
        {
            std::lock_guard<std::mutex> lock(queueMutex);
            if (!recordQueue.empty()) {
                picture = recordQueue.front().get();
                // The last picture stays queued and is encoded again on each tick until a newer one
                // comes, so the file keeps its rate whatever the camera delivers.
                if (recordQueue.size() > 1) {
                    taken = std::move(recordQueue.front());
                    recordQueue.pop_front();
                }
            }
        }
        if (picture == nullptr) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        encoder.EncodePicture(*picture);
        ReleaseFrame(std::move(taken));
        std::this_thread::sleep_until(tickStart + period);
        tickStart = Clock::now();
    }

    {
        std::lock_guard<std::mutex> lock(queueMutex);
        ReleaseAll(recordQueue);
    }
    if (encoder.CloseFile())
        MoveWithoutReplacing(recordTempPath, recordPath);
}
