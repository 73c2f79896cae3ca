#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

// Small helpers over POSIX sockets for the camera link.

// IPv4 socket address from dotted text; nothing when the text is not an IPv4 address.
std::optional<sockaddr_in> Ipv4Address(const std::string& dotted, uint16_t port);

void SetNonBlocking(int fd, bool on);

// Receive time-out 0 s + 1000 us, address reuse on, and the given receive buffer size. Results are ignored:
// every read follows a readiness wait, so the options only tune.
void SetStreamOptions(int fd, int receiveBufferBytes);

// Waits until fd is readable. True when it is (or has an error or hang-up to report).
bool WaitReadable(int fd, std::chrono::microseconds timeout);

enum class ConnectWait { Connected, Failed, TimedOut };

// Waits for a non-blocking connect under way on fd to finish. Connected only when the socket became
// writable and holds no pending error: a refused connection also reports writable on Linux.
ConnectWait WaitConnected(int fd, std::chrono::milliseconds timeout);
