#include "camera/CVideoClient.h"

#include "camera/receivers/FragmentAssembler.h"
#include "camera/receivers/JpegStreamCutter.h"
#include "camera/receivers/PacketListAssembler.h"
#include "platform/DebugPrint.h"
#include "platform/Sockets.h"

extern "C" {
#include <libavutil/time.h>
}

#include <sys/socket.h>

#include <array>
#include <memory>

namespace {
constexpr int kTcpReadBytes = 1000;
constexpr auto kTcpWait = std::chrono::microseconds(2000);
constexpr int kDatagramBytes = 1450;
constexpr auto kUdpWait = std::chrono::microseconds(1000);
constexpr int64_t kKeepAliveMs = 2000;

int64_t NowMs() { return av_gettime() / 1000; }
} // namespace

void CVideoClient::StreamReceiveThread()
{
    if (family == 9)
        ReceiveJpegTcp();
    else
        ReceiveUdp();
}

void CVideoClient::ReceiveJpegTcp()
{
    auto decode = [this](uint8_t* data, int size, int capacity) { DecodeFrame(data, size, capacity); };
    // Heap-held: the cutter carries its 512000-byte accumulation and join buffers.
    auto cutter = std::make_unique<JpegStreamCutter>(decode);
    std::array<uint8_t, kTcpReadBytes> chunk{};
    bool peerClosed = false;
    while (running != 0) {
        // After the camera hung up the socket stays readable for ever; idle instead of spinning.
        if (peerClosed) {
            std::this_thread::sleep_for(kTcpWait);
            continue;
        }
        if (!WaitReadable(sock, kTcpWait))
            continue;
        const ssize_t n = ::recv(sock, chunk.data(), chunk.size(), 0);
        if (n == 0)
            peerClosed = true;
        if (n > 0)
            cutter->Push(chunk.data(), static_cast<int>(n));
    }
    DebugPrint("ExitRead");
    cutter.reset();
    SendToCamera(StreamOff);
    receiveThreadId = kNoThread;
}

void CVideoClient::ReceiveUdp()
{
    auto decode = [this](uint8_t* data, int size, int capacity) { DecodeFrame(data, size, capacity); };
    auto fragments = std::make_unique<FragmentAssembler>(decode);
    auto packets = std::make_unique<PacketListAssembler>(decode);
    std::array<uint8_t, kDatagramBytes> datagram{};
    int64_t keepAliveReference = NowMs();
    uint64_t turn = 0;
    while (running != 0) {
        if (++turn % 4 == 0) {
            const int64_t now = NowMs();
            if (now - keepAliveReference > kKeepAliveMs) {
                SendToCamera(StreamOn);
                keepAliveReference = now;
            }
        }
        if (!WaitReadable(sock, kUdpWait))
            continue;
        const ssize_t n = ::recv(sock, datagram.data(), datagram.size(), 0);
        if (family == 8)
            fragments->Push(datagram.data(), static_cast<int>(n));
        else if (family == 6)
            packets->Push(datagram.data(), static_cast<int>(n));
    }
    SendToCamera(StreamOff);
    fragments.reset();
    packets.reset();
    receiveThreadId = kNoThread;
}
