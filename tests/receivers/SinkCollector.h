#pragma once

#include "camera/receivers/FrameSink.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

// Keeps every frame an assembler hands off, and checks the room it promises for the decoder's padding.
struct SinkCollector {
    std::vector<std::vector<uint8_t>> frames;
    FrameSink Sink()
    {
        return [this](uint8_t* data, int size, int capacity) {
            EXPECT_GE(capacity, size + 64);
            frames.emplace_back(data, data + size);
        };
    }
};
