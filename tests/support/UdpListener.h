#pragma once

#include "platform/UniqueFd.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

// A UDP socket on 127.0.0.1 with an ephemeral port, for tests that watch what the client sends.
class UdpListener {
public:
    struct Datagram {
        std::vector<uint8_t> bytes;
        std::chrono::steady_clock::time_point at;
    };

    UdpListener() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        ::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }

    uint16_t port() const { return port_; }

    std::optional<Datagram> Receive(std::chrono::milliseconds timeout)
    {
        pollfd waiter{fd_.get(), POLLIN, 0};
        if (::poll(&waiter, 1, static_cast<int>(timeout.count())) <= 0)
            return std::nullopt;
        Datagram datagram;
        datagram.bytes.resize(2048);
        const ssize_t n = ::recv(fd_.get(), datagram.bytes.data(), datagram.bytes.size(), 0);
        datagram.at = std::chrono::steady_clock::now();
        if (n < 0)
            return std::nullopt;
        datagram.bytes.resize(static_cast<size_t>(n));
        return datagram;
    }

private:
    UniqueFd fd_;
    uint16_t port_ = 0;
};
