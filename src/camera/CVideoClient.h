#pragma once

#include "camera/CameraCommand.h"
#include "camera/LinkConfig.h"
#include "capture/MP4Encoder.h"
#include "video/Bitmap.h"
#include "video/FfmpegHandles.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Called on the receive thread once per delivered picture with the new bitmap and callbackUser.
using FrameCallback = void (*)(BitmapPtr bitmap, void* user);

// Camera family codes: -1 none; 0-4 and 7 recognised but not streamed; 5 H.264 over TCP;
// 6 JPEG in numbered UDP packets; 8 JPEG in fixed-size UDP pieces; 9 JPEG over TCP.
using CameraFamily = int32_t;

inline constexpr uint32_t kNoThread = 1444;

// Everything of one camera connection. The window thread constructs it, sets frameCallback and
// callbackUser, and drives it with Start and Stop; the receive and record threads use its fields.
class CVideoClient {
public:
    explicit CVideoClient(LinkConfig config = LinkConfig{});
    ~CVideoClient();
    CVideoClient(const CVideoClient&) = delete;
    CVideoClient& operator=(const CVideoClient&) = delete;

    // Stream start and stop; window thread only.
    int Start();
    void Stop();
    int ConnectH264Stream();
    int ConnectJpegStream();
    int OpenUdpStream();

    // Discovery and commands.
    std::string FindCamera();
    void GreetCamera();
    int SendToCamera(const CameraCommand& command) const;

    // Decoder and frame pipeline; receive thread (first setup call on the window thread in Start).
    void SetupH264Decoder();
    void SetupMjpegDecoder();
    int ParseH264(const uint8_t* data, int length);
    void DecodeFrame(const uint8_t* data, int size);
    // data lies in a buffer of capacity bytes; when it has room, the padding is zeroed in place.
    void DecodeFrame(uint8_t* data, int size, int capacity);
    int DeliverFrame(AVFrame* frame);
    // Brings decodedFrame into workFrame as I420 (re-creating the working pictures if its size differs).
    // False when the picture cannot be converted or a buffer cannot be had; then nothing is delivered.
    bool ConvertDecodedToWork();

    // Recording; window thread.
    // Records into a file of finalPath's name in UnfinishedRecordingsFolder(), moved to finalPath (or a
    // free "_N" variant of it) when recording is cleared. Returns 0; does nothing while recording.
    int StartRecording(std::string finalPath);
    // Clears recording and waits until the record thread has finished and moved its file.
    void FinishRecording();

    const LinkConfig& config() const { return config_; }

    // Written by the owner right after construction.
    void* callbackUser = nullptr;
    FrameCallback frameCallback = nullptr;
    MP4Encoder encoder;
    // Written by Start only, while no receive thread exists.
    std::string cameraAddress;
    // Receive thread only (Start clears it while no receive thread exists).
    BitmapPtr bitmap;
    // Stream socket; see Start/Stop for who closes it.
    std::atomic<int> sock{-1};
    // Written by Start only, while no receive thread exists.
    CameraFamily family = -1;
    // kNoThread exactly when no receive thread exists; the thread writes it back as it ends.
    std::atomic<uint32_t> receiveThreadId{kNoThread};
    std::atomic<uint32_t> recordThreadId{kNoThread};
    // 1 while the receive thread is meant to run; set by a connection setup, cleared by Stop.
    std::atomic<int> running{0};
    std::mutex queueMutex;
    // Guarded by queueMutex; at most 8 frames of recordWidth x recordHeight I420, each owning its buffer.
    std::deque<FramePtr> recordQueue;
    // Decoder objects: created by the first streaming Start, used by the receive thread.
    FramePtr decodedFrame;
    FramePtr recordFrame;
    const AVCodec* codec = nullptr;
    CodecContextPtr codecContext;
    FramePtr workFrame;
    int workPixelFormat = 0;
    int recordWidth = 640;
    int recordHeight = 480;
    // True while a recording accepts frames; set by the record thread, cleared by the window thread.
    std::atomic<bool> recording{false};
    int recordFps = 20;
    std::string recordPath;
    std::string recordTempPath;
    ParserPtr parser;
    // Written by the window thread, read once per picture by the receive thread.
    std::atomic<float> zoom{1.0f};

    // Frame pipeline state (receive thread only).
    // Holds a picture followed by zeroed padding when the caller's buffer has no room for it.
    std::vector<uint8_t> paddedInput;
    PacketPtr decodePacket;
    // Target of the zoom, swapped with workFrame after each zoomed picture.
    FramePtr zoomFrame;
    std::vector<uint8_t> zoomScratch;
    // Pictures left out of the recording because recordQueue was full (written by the receive thread).
    std::atomic<uint64_t> recordDrops{0};

private:
    // Receive threads; each ends by writing kNoThread to receiveThreadId as its last use of the client.
    void H264ReceiveThread();
    void StreamReceiveThread();
    void ReceiveJpegTcp();
    void ReceiveUdp();
    void DecodeH264Unit(const uint8_t* unit, int size);
    // Frame pipeline helpers (src/video).
    void SetupDecoder(AVCodecID id);
    void CreateDecoder(AVCodecID id);
    bool EnsureWorkFrames(int width, int height);
    bool ConvertToWork(const AVFrame& picture);
    void DecodePacket(uint8_t* data, int size);
    bool ApplyZoom(float zoomFactor);
    void QueueRecordCopy();
    struct TcpStreamSetup {
        const char* cameraAddress; // fixed stream address of the family, before the route
        bool waitOnAnyError;       // wait for the connection after any connect error, not only "in progress"
        std::chrono::milliseconds wait;
        int receiveBufferBytes; // 0 leaves the socket options alone
        void (CVideoClient::*entry)();
    };
    int ConnectTcpStream(const TcpStreamSetup& setup);
    // Greets the camera, raises running and starts the receive thread; 1, or 0 when no thread could be had.
    int StartStreaming(void (CVideoClient::*entry)());
    // Joins a receive thread that has already said it is ending, then starts the next one.
    bool LaunchReceiveThread(void (CVideoClient::*entry)());
    void JoinReceiveThread();

    LinkConfig config_;
    // Window thread only. Joined before a new one starts and before the client is destroyed.
    std::thread receiveThread_;
    uint32_t nextThreadId_ = 1;
    // Receive thread only.
    PacketPtr h264Packet_;

    // Recording state.
    // Encodes one queued picture per tick until recording is cleared, then finishes and moves the file.
    void RecordThread();
    // Window thread only. Joined before a new recording opens the encoder and before the client goes.
    std::thread recordThread_;
};
