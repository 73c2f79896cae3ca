#pragma once

#include <array>
#include <cstdint>

// A 7-byte control datagram: "JHCM", 0x44, a command code and its argument.
using CameraCommand = std::array<uint8_t, 7>;

inline constexpr CameraCommand Greet1 = {0x4A, 0x48, 0x43, 0x4D, 0x44, 0x10, 0x00};
inline constexpr CameraCommand Greet2 = {0x4A, 0x48, 0x43, 0x4D, 0x44, 0x20, 0x00};
inline constexpr CameraCommand StreamOn = {0x4A, 0x48, 0x43, 0x4D, 0x44, 0xD0, 0x01};
inline constexpr CameraCommand StreamOff = {0x4A, 0x48, 0x43, 0x4D, 0x44, 0xD0, 0x02};

inline constexpr uint16_t kCommandPort = 20000;

// Sends one command from a fresh UDP socket. 0 when the datagram was handed to the system; -1 for a
// null command, an address that is not dotted IPv4, a socket that cannot be made or a failed send.
int SendCommand(const CameraCommand* command, const char* address, uint16_t port = kCommandPort);
