#include "platform/Sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

std::optional<sockaddr_in> Ipv4Address(const std::string& dotted, uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (inet_pton(AF_INET, dotted.c_str(), &address.sin_addr) != 1)
        return std::nullopt;
    return address;
}

void SetNonBlocking(int fd, bool on)
{
    const int flags = fcntl(fd, F_GETFL, 0);
    if (flags >= 0)
        fcntl(fd, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK));
}

void SetStreamOptions(int fd, int receiveBufferBytes)
{
    const timeval timeout{0, 1000};
    const int reuse = 1;
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
}

bool WaitReadable(int fd, std::chrono::microseconds timeout)
{
    // poll takes milliseconds; ppoll keeps the sub-millisecond waits of the receive loops.
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout);
    const timespec limit{static_cast<time_t>(seconds.count()),
                         static_cast<long>(std::chrono::nanoseconds(timeout - seconds).count())};
    pollfd waiter{fd, POLLIN, 0};
    return ppoll(&waiter, 1, &limit, nullptr) > 0;
}

ConnectWait WaitConnected(int fd, std::chrono::milliseconds timeout)
{
    pollfd waiter{fd, POLLOUT, 0};
    const int ready = poll(&waiter, 1, static_cast<int>(timeout.count()));
    if (ready == 0)
        return ConnectWait::TimedOut;
    if (ready < 0)
        return ConnectWait::Failed;
    int error = 0;
    socklen_t length = sizeof error;
    if ((waiter.revents & POLLOUT) == 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)
        return ConnectWait::Failed;
    // A failure already reported by connect itself leaves no pending error: ask for the peer.
    sockaddr_in peer{};
    socklen_t peerLength = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0)
        return ConnectWait::Failed;
    return ConnectWait::Connected;
}
