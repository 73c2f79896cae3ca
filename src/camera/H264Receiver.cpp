#include "camera/CVideoClient.h"

#include "camera/receivers/H264ChunkSplitter.h"
#include "platform/DebugPrint.h"
#include "platform/Sockets.h"

#include <sys/socket.h>

#include <vector>

namespace {
constexpr int kReadBytes = 8192;
constexpr auto kReadWait = std::chrono::microseconds(2000);
} // namespace

void CVideoClient::H264ReceiveThread()
{
    if (family != 5) {
        receiveThreadId = kNoThread;
        return;
    }
    // Zeroed tail: the parser may hand out units that end inside this buffer.
    std::vector<uint8_t> buffer(kReadBytes + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    bool peerClosed = false;
    while (running == 1) {
        // After the camera hung up the socket stays readable for ever; idle instead of spinning.
        if (peerClosed) {
            std::this_thread::sleep_for(kReadWait);
            continue;
        }
        if (!WaitReadable(sock, kReadWait))
            continue;
        const ssize_t n = ::recv(sock, buffer.data(), kReadBytes, 0);
        if (n == 0)
            peerClosed = true;
        if (n > 0)
            ParseH264(buffer.data(), static_cast<int>(n));
    }
    DebugPrint("ExitRead_H264");
    receiveThreadId = kNoThread;
    SendToCamera(StreamOff);
    const int fd = sock.exchange(-1);
    if (fd != -1)
        ::close(fd);
}

int CVideoClient::ParseH264(const uint8_t* data, int length)
{
    if (data == nullptr || length < 4 || !codecContext || !parser)
        return 0;
    SplitH264Chunk(parser.get(), codecContext.get(), data, length, [this](const uint8_t* unit, int size) {
        DecodeH264Unit(unit, size);
    });
    return 0;
}

void CVideoClient::DecodeH264Unit(const uint8_t* unit, int size)
{
    if (!h264Packet_)
        h264Packet_.reset(av_packet_alloc());
    if (!h264Packet_ || !decodedFrame)
        return;
    h264Packet_->data = const_cast<uint8_t*>(unit);
    h264Packet_->size = size;
    const int sent = avcodec_send_packet(codecContext.get(), h264Packet_.get());
    av_packet_unref(h264Packet_.get());
    if (sent != 0)
        return;
    // Take every picture the unit completed, so none is left to block the next packet.
    while (avcodec_receive_frame(codecContext.get(), decodedFrame.get()) == 0) {
        SetupH264Decoder();
        if (ConvertDecodedToWork())
            DeliverFrame(workFrame.get());
        av_frame_unref(decodedFrame.get());
    }
}
