#pragma once

// The MP4 writer that records the live picture.
class MP4Encoder {
public:
    MP4Encoder() = default;
    MP4Encoder(const MP4Encoder&) = delete;
    MP4Encoder& operator=(const MP4Encoder&) = delete;
};
