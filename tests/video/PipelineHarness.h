#pragma once

#include "camera/CVideoClient.h"
#include "camera/LinkConfig.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

// A client with its decoder set up and a callback that counts pictures and keeps the newest bitmap.
// Nothing here opens a socket; the loopback route only guards against a stray Start.
struct Pipeline {
    enum class Kind { Mjpeg, H264 };

    explicit Pipeline(Kind kind = Kind::Mjpeg)
    {
        client.frameCallback = &Pipeline::OnFrame;
        client.callbackUser = this;
        if (kind == Kind::Mjpeg)
            client.SetupMjpegDecoder();
        else
            client.SetupH264Decoder();
    }

    void Decode(const std::vector<uint8_t>& bytes)
    {
        client.DecodeFrame(bytes.data(), static_cast<int>(bytes.size()));
    }

    static void OnFrame(BitmapPtr bitmap, void* user)
    {
        auto* self = static_cast<Pipeline*>(user);
        ++self->calls;
        self->last = std::move(bitmap);
    }

    CVideoClient client{LinkConfig::Loopback("127.0.0.1", 9, 9, 9)};
    int calls = 0;
    BitmapPtr last;
};

// One plane of a frame, rows packed.
inline std::vector<uint8_t> PlaneOf(const AVFrame& frame, int plane)
{
    const int w = plane == 0 ? frame.width : (frame.width + 1) / 2;
    const int h = plane == 0 ? frame.height : (frame.height + 1) / 2;
    std::vector<uint8_t> out;
    out.reserve(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        out.insert(out.end(), frame.data[plane] + y * frame.linesize[plane],
                   frame.data[plane] + y * frame.linesize[plane] + w);
    return out;
}

inline double MeanAbsDiff(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    if (a.size() != b.size() || a.empty())
        return 1e9;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        sum += std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i]));
    return sum / static_cast<double>(a.size());
}
