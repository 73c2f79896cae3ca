#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace camsim {

struct SimOptions {
    int family = 8; // 5, 6, 8 or 9
    int width = 640, height = 480;
    double fps = 25;
    double lossRate = 0, duplicateRate = 0, reorderRate = 0, truncateRate = 0, garbageRate = 0; // 0..1
    bool junkBetweenJpegs = false;                                                              // family 9
    uint16_t startFrameId = 1;                                                                  // family 8
    uint16_t startSequence = 0;                                                                 // family 6
    uint32_t startFrameNumber =
        0; // the number drawn into the first picture (and family 6's frame number base)
    uint32_t seed = 1;
    uint16_t commandPort = 0;       // UDP on 127.0.0.1; 0 picks a free one
    uint16_t tcpPort = 0;           // families 5 and 9: TCP listen port on 127.0.0.1; 0 picks a free one
    uint16_t udpTargetPort = 10900; // families 6 and 8: where datagrams go, always 127.0.0.1
    int keepAliveTimeoutMs = 6000;  // UDP families stop streaming when no StreamOn came for this long
};

struct SeenCommand {
    std::array<uint8_t, 7> bytes; // the first 7 bytes, zero-padded when the datagram was shorter
    std::chrono::steady_clock::time_point at;
    size_t size = 7; // the datagram's real length
};

// A camera on loopback. It reads commands on a UDP port, streams its family's format once greeted
// (Greet1, Greet2, then StreamOn), keeps UDP streams going while StreamOn keep-alives arrive and stops on
// StreamOff. TCP families accept one client connection at a time and stream to it once greeted. Every
// socket is bound to, and every datagram sent to, 127.0.0.1.
class CameraSimulator {
public:
    explicit CameraSimulator(SimOptions options);
    ~CameraSimulator(); // stops and joins its thread
    CameraSimulator(const CameraSimulator&) = delete;
    CameraSimulator& operator=(const CameraSimulator&) = delete;

    bool Start(); // binds and listens; false with error() set on failure or when already started
    void Stop();  // may be called in any state; Start may follow

    uint16_t commandPort() const { return commandPort_; }
    uint16_t tcpPort() const { return tcpPort_; }
    std::vector<SeenCommand> commands() const; // every datagram received on the command port, in order
    uint64_t framesSent() const { return report_.framesSent; }
    bool streaming() const { return report_.streaming; }
    int jpegQuality() const { return report_.jpegQuality; } // 0 for H.264
    std::string error() const;

private:
    // What the loop thread tells the callers' thread.
    struct Report {
        mutable std::mutex mutex;
        std::vector<SeenCommand> commands; // guarded by mutex
        std::string error;                 // guarded by mutex
        std::atomic<uint64_t> framesSent{0};
        std::atomic<bool> streaming{false};
        std::atomic<int> jpegQuality{0};
    };

    class Loop;

    SimOptions options_;
    Report report_;
    std::unique_ptr<Loop> loop_; // created by Start, run by thread_, destroyed after the join
    std::thread thread_;
    uint16_t commandPort_ = 0; // written by Start only
    uint16_t tcpPort_ = 0;     // written by Start only
};

} // namespace camsim
