#pragma once

#include "camera/CVideoClient.h"
#include "camsim/TestPattern.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

// Collects what the client delivers: the frame number each picture carries (-1 when unreadable) and its size.
class FrameCollector {
public:
    struct Seen {
        int64_t frameNumber;
        int width;
        int height;
    };

    void Attach(CVideoClient& client)
    {
        client.frameCallback = &FrameCollector::OnFrame;
        client.callbackUser = this;
    }

    std::vector<Seen> seen() const
    {
        std::lock_guard lock(mutex_);
        return seen_;
    }

    // Waits until at least count pictures came; false on time-out.
    bool WaitFor(size_t count, std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(mutex_);
        return arrived_.wait_for(lock, timeout, [&] { return seen_.size() >= count; });
    }

private:
    static void OnFrame(BitmapPtr bitmap, void* user)
    {
        auto* self = static_cast<FrameCollector*>(user);
        const int64_t number = camsim::ReadFrameNumber(bitmap->pixels.data(), bitmap->stride(), bitmap->width,
                                                       bitmap->height);
        {
            std::lock_guard lock(self->mutex_);
            self->seen_.push_back({number, bitmap->width, bitmap->height});
        }
        self->arrived_.notify_all();
    }

    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Seen> seen_;
};
