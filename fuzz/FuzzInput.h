#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

// A fuzz input is a run of datagrams (or stream chunks) separated by a four-byte tag. Each piece is
// copied into a heap block of exactly its size, so reading one byte past it is an address-sanitizer
// error instead of a silent read of the next piece.
inline constexpr uint8_t kPieceTag[4] = {'V', 'D', 'G', 'M'};

struct Piece {
    std::unique_ptr<uint8_t[]> bytes;
    int size = 0;
};

inline std::vector<Piece> SplitAtTag(const uint8_t* data, size_t size)
{
    std::vector<Piece> pieces;
    const uint8_t* end = data + size;
    const uint8_t* at = data;
    while (true) {
        const uint8_t* tag = std::search(at, end, std::begin(kPieceTag), std::end(kPieceTag));
        Piece piece;
        piece.size = static_cast<int>(tag - at);
        piece.bytes = std::make_unique<uint8_t[]>(static_cast<size_t>(piece.size));
        std::copy(at, tag, piece.bytes.get());
        pieces.push_back(std::move(piece));
        if (tag == end)
            break;
        at = tag + sizeof kPieceTag;
    }
    return pieces;
}

// The seed maker writes what SplitAtTag reads.
inline std::vector<uint8_t> JoinWithTag(const std::vector<std::vector<uint8_t>>& pieces)
{
    std::vector<uint8_t> joined;
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0)
            joined.insert(joined.end(), std::begin(kPieceTag), std::end(kPieceTag));
        joined.insert(joined.end(), pieces[i].begin(), pieces[i].end());
    }
    return joined;
}

#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition);          \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (0)

// The decoder zeroes its read-ahead padding in place, so the padding after the frame and the last byte
// of the stated capacity must be writable.
inline void TouchPadding(uint8_t* data, int size, int capacity)
{
    constexpr int kPadding = 64;
    FUZZ_CHECK(size >= 0 && capacity >= size + kPadding);
    std::fill(data + size, data + size + kPadding, uint8_t{0});
    data[capacity - 1] = 0;
}
