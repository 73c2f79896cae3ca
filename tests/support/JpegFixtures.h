#pragma once

#include "video/FfmpegHandles.h"

#include <cstdint>
#include <functional>
#include <vector>

// Pictures made in the tests themselves: painted planar frames, JPEGs from FFmpeg's MJPEG encoder
// (and libjpeg-turbo for greyscale, which that encoder does not write).

struct Rgb {
    uint8_t r, g, b;
};

using Painter = std::function<Rgb(int x, int y)>;

// A planar frame of the given format (yuvj420p, yuvj422p, yuvj444p, yuv420p, gray) painted with BT.601
// colours: full range for the J formats and gray, studio range for yuv420p. Chroma samples take the
// colour of their top-left pixel, so flat blocks aligned to 16 pixels stay flat.
FramePtr PaintPicture(int width, int height, AVPixelFormat format, const Painter& paint);

// One JPEG of the picture (formats yuvj420p, yuvj422p, yuvj444p, gray) at high quality.
std::vector<uint8_t> EncodeJpeg(const AVFrame& picture);

// Shorthand: paint and encode.
std::vector<uint8_t> MakeJpeg(int width, int height, AVPixelFormat format, const Painter& paint);

// A busy but smooth scene (gradients, rings and a few hard edges) for comparing scaled pictures.
Painter ScenePainter(int width, int height);

// Blocks of 64x64 pixels in a row, one colour each.
Painter BlocksPainter(const std::vector<Rgb>& colours);
