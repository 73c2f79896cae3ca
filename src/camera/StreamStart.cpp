#include "camera/CVideoClient.h"

#include "platform/DebugPrint.h"
#include "platform/Sockets.h"

#include <cerrno>
#include <system_error>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

constexpr auto kRetryPause = 150ms;
constexpr int kConnectAttempts = 6;

enum class WaitAfter { InProgressOnly, AnyError };

// Six attempts of a non-blocking connect with a wait and a pause, on a socket already non-blocking.
bool ConnectWithAttempts(int fd, const sockaddr_in& destination, WaitAfter waitAfter, std::chrono::milliseconds wait)
{
    for (int attempt = 0; attempt < kConnectAttempts; ++attempt) {
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&destination), sizeof destination) == 0)
            return true;
        const int error = errno;
        // An attempt that completed during the previous pause shows up as "already connected".
        if (error == EISCONN)
            return true;
        const bool underWay = error == EINPROGRESS || error == EWOULDBLOCK;
        if ((underWay || waitAfter == WaitAfter::AnyError) && WaitConnected(fd, wait) == ConnectWait::Connected)
            return true;
        std::this_thread::sleep_for(kRetryPause);
    }
    return false;
}

} // namespace

int CVideoClient::Start()
{
    if (running != 0)
        return 0;
    cameraAddress = FindCamera();
    if (family == -1)
        return 0;
    bitmap = nullptr;
    switch (family) {
    case 5:
        SetupH264Decoder();
        return ConnectH264Stream();
    case 6:
    case 8:
        SetupMjpegDecoder();
        return OpenUdpStream();
    case 9:
        SetupMjpegDecoder();
        return ConnectJpegStream();
    default:
        return 0;
    }
}

int CVideoClient::ConnectH264Stream()
{
    // Both family-5 subnets stream from the same fixed address.
    return ConnectTcpStream({"192.168.34.1", false, 500ms, 0, &CVideoClient::H264ReceiveThread});
}

int CVideoClient::ConnectJpegStream()
{
    return ConnectTcpStream({"192.168.31.1", true, 1000ms, 512000, &CVideoClient::StreamReceiveThread});
}

int CVideoClient::ConnectTcpStream(const TcpStreamSetup& setup)
{
    if (receiveThreadId != kNoThread || sock != -1)
        return 0;
    const auto destination = Ipv4Address(config_.Dial(setup.cameraAddress), config_.tcpStreamPort);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sock = fd;
    if (setup.receiveBufferBytes > 0)
        SetStreamOptions(fd, setup.receiveBufferBytes);
    SetNonBlocking(fd, true);
    const WaitAfter waitAfter = setup.waitOnAnyError ? WaitAfter::AnyError : WaitAfter::InProgressOnly;
    const bool connected = destination && ConnectWithAttempts(fd, *destination, waitAfter, setup.wait);
    SetNonBlocking(fd, false);
    if (!connected) {
        ::close(fd);
        sock = -1;
        return 0;
    }
    return StartStreaming(setup.entry);
}

int CVideoClient::OpenUdpStream()
{
    if (receiveThreadId != kNoThread || sock != -1)
        return 0;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sock = fd;
    SetStreamOptions(fd, 51200);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(config_.udpStreamPort);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        ::shutdown(fd, SHUT_RD);
        ::close(fd);
        sock = -1;
        return 0;
    }
    return StartStreaming(&CVideoClient::StreamReceiveThread);
}

int CVideoClient::StartStreaming(void (CVideoClient::*entry)())
{
    // Data the camera sends during the greeting waits in the socket; running is set before the thread
    // exists so that a Stop right after still ends it.
    GreetCamera();
    running = 1;
    if (LaunchReceiveThread(entry))
        return 1;
    // No thread could be had: back to idle rather than streaming with nobody reading.
    running = 0;
    const int fd = sock.exchange(-1);
    if (fd != -1)
        ::close(fd);
    return 0;
}

bool CVideoClient::LaunchReceiveThread(void (CVideoClient::*entry)())
{
    // The guard saw kNoThread, so an earlier thread has done its last work; collect it.
    JoinReceiveThread();
    if (++nextThreadId_ == kNoThread)
        ++nextThreadId_;
    receiveThreadId = nextThreadId_;
    try {
        receiveThread_ = std::thread(entry, this);
    } catch (const std::system_error&) {
        receiveThreadId = kNoThread;
        return false;
    }
    return true;
}

void CVideoClient::Stop()
{
    DebugPrint("naStop");
    if (recording)
        recording = false;
    running = 0;
    // Wait for the receive thread itself rather than a fixed pause: it sees the flag within one 1-2 ms
    // wait, and nothing below may race with its last steps.
    JoinReceiveThread();
    if (family == 6 || family == 8 || family == 9) {
        SendToCamera(StreamOff);
        std::this_thread::sleep_for(30ms);
        const int fd = sock.exchange(-1);
        if (fd != -1)
            ::close(fd);
    }
}
