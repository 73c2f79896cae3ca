#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

// Builders for the datagrams of families 8 and 6, shared by the tests and benchmarks of the receivers.

// Family 8: frame id (little-endian), piece count, piece index, 4 unused bytes, then the piece.
inline std::vector<uint8_t> Family8Datagram(uint16_t frameId, uint8_t pieceCount, uint8_t pieceIndex,
                                            const std::vector<uint8_t>& piece)
{
    std::vector<uint8_t> datagram = {static_cast<uint8_t>(frameId & 0xFF), static_cast<uint8_t>(frameId >> 8),
                                     pieceCount, pieceIndex, 0, 0, 0, 0};
    datagram.insert(datagram.end(), piece.begin(), piece.end());
    return datagram;
}

// Family 6: byte 1 bit 7 marker, big-endian sequence number at 2 and frame number at 4, payload from 20.
inline std::vector<uint8_t> Family6Datagram(uint16_t sequence, uint32_t frameNumber, bool marker,
                                            const std::vector<uint8_t>& payload)
{
    std::vector<uint8_t> datagram(20, 0);
    datagram[0] = 0x80;
    datagram[1] = static_cast<uint8_t>(marker ? 0x80 | 26 : 26);
    datagram[2] = static_cast<uint8_t>(sequence >> 8);
    datagram[3] = static_cast<uint8_t>(sequence);
    for (int i = 0; i < 4; ++i)
        datagram[4 + i] = static_cast<uint8_t>(frameNumber >> (24 - 8 * i));
    datagram.insert(datagram.end(), payload.begin(), payload.end());
    return datagram;
}

// Cuts a frame into family-8 datagrams, padding the last piece to 1442 bytes.
inline std::vector<std::vector<uint8_t>> Family8Frame(uint16_t frameId, const std::vector<uint8_t>& frame)
{
    constexpr size_t kPiece = 1442;
    const size_t pieces = (frame.size() + kPiece - 1) / kPiece;
    std::vector<std::vector<uint8_t>> datagrams;
    for (size_t i = 0; i < pieces; ++i) {
        std::vector<uint8_t> piece(kPiece, 0);
        const size_t take = std::min(kPiece, frame.size() - i * kPiece);
        std::copy_n(frame.begin() + static_cast<long>(i * kPiece), take, piece.begin());
        datagrams.push_back(
            Family8Datagram(frameId, static_cast<uint8_t>(pieces), static_cast<uint8_t>(i), piece));
    }
    return datagrams;
}

// Cuts a frame (which starts with FF D8) into family-6 datagrams of at most payloadBytes of payload,
// numbered from sequence on; the marker goes on the last.
inline std::vector<std::vector<uint8_t>> Family6Frame(uint16_t& sequence, uint32_t frameNumber,
                                                      const std::vector<uint8_t>& frame, size_t payloadBytes = 1430)
{
    std::vector<std::vector<uint8_t>> datagrams;
    for (size_t at = 0; at < frame.size(); at += payloadBytes) {
        const size_t take = std::min(payloadBytes, frame.size() - at);
        const std::vector<uint8_t> payload(frame.begin() + static_cast<long>(at),
                                           frame.begin() + static_cast<long>(at + take));
        datagrams.push_back(Family6Datagram(sequence++, frameNumber, at + take == frame.size(), payload));
    }
    return datagrams;
}
