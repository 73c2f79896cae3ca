#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The JPEGs of a Motion JPEG file as FFmpeg's mjpeg muxer writes it: whole images back to back, each
// from FF D8 to FF D9. Empty when the file cannot be read.
std::vector<std::vector<uint8_t>> ReadMjpegFile(const std::string& path);
