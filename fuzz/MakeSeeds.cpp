// Writes seed inputs for the fuzz targets, made with the camera simulator's encoders and packetizers.
//   fuzz_make_seeds DIR   ->   DIR/<target>/<seed>
#include "FuzzInput.h"
#include "camsim/H264Encoder.h"
#include "camsim/Packetize.h"
#include "camsim/TestPattern.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

using Bytes = std::vector<uint8_t>;
using Pieces = std::vector<Bytes>;
namespace fs = std::filesystem;

void Write(const fs::path& dir, const std::string& target, const std::string& name, const Bytes& bytes)
{
    fs::create_directories(dir / target);
    std::ofstream out(dir / target / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Pieces Chunk(const Bytes& stream, size_t chunkSize)
{
    Pieces chunks;
    for (size_t at = 0; at < stream.size(); at += chunkSize)
        chunks.emplace_back(stream.begin() + static_cast<long>(at),
                            stream.begin() + static_cast<long>(std::min(stream.size(), at + chunkSize)));
    return chunks;
}

// Moves every third datagram two places later and repeats every fifth, as a lossy Wi-Fi link would.
Pieces Disorder(Pieces datagrams)
{
    for (size_t i = 0; i + 2 < datagrams.size(); i += 3)
        std::swap(datagrams[i], datagrams[i + 2]);
    Pieces out;
    for (size_t i = 0; i < datagrams.size(); ++i) {
        out.push_back(datagrams[i]);
        if (i % 5 == 4)
            out.push_back(datagrams[i]);
    }
    return out;
}

Bytes H264Stream(int frames)
{
    constexpr int kWidth = 64, kHeight = 48;
    camsim::H264Encoder encoder;
    if (!encoder.Open(kWidth, kHeight, 25))
        return {};
    Bytes planes(kWidth * kHeight * 3 / 2);
    uint8_t* y = planes.data();
    uint8_t* u = y + kWidth * kHeight;
    uint8_t* v = u + kWidth * kHeight / 4;
    Bytes stream;
    for (int i = 0; i < frames; ++i) {
        camsim::DrawTestPattern(y, kWidth, u, kWidth / 2, v, kWidth / 2, kWidth, kHeight, static_cast<uint32_t>(i));
        const Bytes unit = encoder.Encode(y, u, v, i == 0);
        stream.insert(stream.end(), unit.begin(), unit.end());
    }
    return stream;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const fs::path dir = argv[1];
    std::vector<Bytes> jpegs;
    for (uint32_t frame = 0; frame < 3; ++frame)
        jpegs.push_back(camsim::EncodeTestJpeg(64, 48, frame, 50 + 10 * static_cast<int>(frame)));
    jpegs.push_back(camsim::EncodeTestJpeg(160, 120, 7, 75));
    for (const Bytes& jpeg : jpegs) {
        if (jpeg.empty()) {
            std::fprintf(stderr, "fuzz_make_seeds: the test JPEG could not be made\n");
            return 1;
        }
    }

    for (size_t i = 0; i < jpegs.size(); ++i)
        Write(dir, "fuzz_decode_frame", "jpeg" + std::to_string(i), jpegs[i]);

    Pieces family8, family6;
    uint16_t sequence = 65533; // frames that wrap the sequence number
    for (size_t i = 0; i < jpegs.size(); ++i) {
        for (Bytes& datagram : camsim::PacketizeFamily8(jpegs[i], static_cast<uint16_t>(65534 + i)))
            family8.push_back(std::move(datagram));
        for (Bytes& datagram : camsim::PacketizeFamily6(jpegs[i], sequence, static_cast<uint32_t>(i + 1)))
            family6.push_back(std::move(datagram));
    }
    Write(dir, "fuzz_fragment_assembler", "in_order", JoinWithTag(family8));
    Write(dir, "fuzz_fragment_assembler", "disordered", JoinWithTag(Disorder(family8)));
    Write(dir, "fuzz_packet_list_assembler", "in_order", JoinWithTag(family6));
    Write(dir, "fuzz_packet_list_assembler", "disordered", JoinWithTag(Disorder(family6)));

    Bytes stream;
    const std::string junk = "--frame\r\nContent-Type: image/jpeg\r\n\r\n";
    for (const Bytes& jpeg : jpegs) {
        stream.insert(stream.end(), junk.begin(), junk.end());
        stream.insert(stream.end(), jpeg.begin(), jpeg.end());
    }
    Write(dir, "fuzz_jpeg_stream_cutter", "chunks_1000", JoinWithTag(Chunk(stream, 1000)));
    Write(dir, "fuzz_jpeg_stream_cutter", "chunks_97", JoinWithTag(Chunk(stream, 97)));
    Bytes stray = {0x20, 0xFF, 0xD9};
    stray.insert(stray.end(), stream.begin(), stream.end());
    Write(dir, "fuzz_jpeg_stream_cutter", "stray_end_marker", JoinWithTag(Chunk(stray, 1000)));
    // An end marker ahead of every start marker. The leading FF makes the target repeat each chunk 128
    // times, so the 4000 bytes before the image also fill the accumulation to its limit.
    Bytes endFirst = {0xFF, 0xD9};
    endFirst.resize(4000, 0x20);
    endFirst.insert(endFirst.end(), jpegs[0].begin(), jpegs[0].end());
    Write(dir, "fuzz_jpeg_stream_cutter", "end_before_start", JoinWithTag(Chunk(endFirst, 1000)));

    const Bytes h264 = H264Stream(6);
    if (h264.empty()) {
        std::fprintf(stderr, "fuzz_make_seeds: the H.264 encoder could not be opened\n");
        return 1;
    }
    Write(dir, "fuzz_h264_chunk_splitter", "chunks_1000", JoinWithTag(Chunk(h264, 1000)));
    Write(dir, "fuzz_h264_chunk_splitter", "chunks_3_and_4", JoinWithTag(Chunk(h264, 4)));
    return 0;
}
