#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace camsim {

// Family 8: every datagram is an 8-byte header and one 1442-byte piece; a frame has at most 50 pieces.
inline constexpr size_t kFamily8HeaderBytes = 8;
inline constexpr size_t kFamily8PieceBytes = 1442;
inline constexpr size_t kFamily8MaxPieces = 50;
inline constexpr size_t kFamily8MaxFrameBytes = kFamily8PieceBytes * kFamily8MaxPieces; // 72100

// Family 6: datagrams of at most 1450 bytes, the payload from byte 20.
inline constexpr size_t kFamily6HeaderBytes = 20;
inline constexpr size_t kFamily6MaxDatagramBytes = 1450;
inline constexpr size_t kFamily6MaxPayloadBytes = kFamily6MaxDatagramBytes - kFamily6HeaderBytes;

// The test pattern of frameNumber as a baseline 4:2:0 JPEG. Empty when the size is below the pattern's
// minimum, odd, or TurboJPEG fails.
std::vector<uint8_t> EncodeTestJpeg(int width, int height, uint32_t frameNumber, int quality);

// Cuts a JPEG into 1450-byte datagrams: frame id (little-endian), piece count, piece index, 4 zero
// bytes, then the piece. The last piece is padded with zeros to the full 1442 bytes, as the receiver
// hands off whole pieces anyway. Empty when the JPEG is empty or needs more than 50 pieces.
std::vector<std::vector<uint8_t>> PacketizeFamily8(const std::vector<uint8_t>& jpeg, uint16_t frameId);

// Cuts a JPEG into datagrams in the RTP positions: byte 0 version 2, byte 1 marker (bit 7, on the last
// datagram) and payload type 26, bytes 2-3 sequence number and 4-7 frame number (both big-endian), bytes
// 8-11 a fixed source id, bytes 12-15 the payload's offset in the frame, 16-19 zero, payload from byte 20.
// sequence is the number of the first datagram and comes back one past the last (wrapping at 65535).
std::vector<std::vector<uint8_t>> PacketizeFamily6(const std::vector<uint8_t>& jpeg, uint16_t& sequence,
                                                   uint32_t frameNumber);

} // namespace camsim
