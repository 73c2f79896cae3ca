#include "capture/CaptureTestSupport.h"

extern "C" {
#include <libavutil/imgutils.h>
}

#include <sys/mount.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <thread>

FramePtr MakeRecordFrame(int number, AVColorRange range, uint8_t (*luma)(int x, int number))
{
    FramePtr frame(av_frame_alloc());
    frame->width = 640;
    frame->height = 480;
    frame->format = AV_PIX_FMT_YUV420P;
    frame->color_range = range;
    if (av_image_alloc(frame->data, frame->linesize, 640, 480, AV_PIX_FMT_YUV420P, 4) < 0)
        return nullptr;
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x)
            frame->data[0][y * frame->linesize[0] + x] = luma(x, number);
    std::memset(frame->data[1], 128, static_cast<size_t>(frame->linesize[1]) * 240);
    std::memset(frame->data[2], 128, static_cast<size_t>(frame->linesize[2]) * 240);
    return frame;
}

uint8_t MovingLuma(int x, int number)
{
    return static_cast<uint8_t>((x + number * 7) & 0xFF);
}

void ProduceFrames(CVideoClient& client, int fps, std::atomic<bool>& stop, size_t& maxQueued,
                   AVColorRange range, uint8_t (*luma)(int x, int number))
{
    const auto period = std::chrono::microseconds(1000000 / fps);
    auto next = std::chrono::steady_clock::now();
    for (int number = 0; !stop; ++number) {
        if (client.recording) {
            FramePtr frame = MakeRecordFrame(number, range, luma);
            std::lock_guard<std::mutex> lock(client.queueMutex);
            if (client.recordQueue.size() < 8)
                client.recordQueue.push_back(std::move(frame));
            maxQueued = std::max(maxQueued, client.recordQueue.size());
            if (frame)
                av_freep(&frame->data[0]);
        }
        next += period;
        std::this_thread::sleep_until(next);
    }
}

Mp4Contents ReadMp4(const std::filesystem::path& file)
{
    Mp4Contents contents;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, file.c_str(), nullptr, nullptr) < 0)
        return contents;
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> input(
        raw, [](AVFormatContext* c) { avformat_close_input(&c); });
    if (avformat_find_stream_info(input.get(), nullptr) < 0)
        return contents;
    contents.opened = true;
    contents.streams = static_cast<int>(input->nb_streams);
    if (input->nb_streams == 0)
        return contents;
    const AVStream* stream = input->streams[0];
    contents.codec = stream->codecpar->codec_id;
    contents.profile = stream->codecpar->profile;
    contents.width = stream->codecpar->width;
    contents.height = stream->codecpar->height;
    contents.timeBase = stream->time_base;
    PacketPtr packet(av_packet_alloc());
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        Mp4Contents::Sample sample{packet->dts, packet->duration, (packet->flags & AV_PKT_FLAG_KEY) != 0,
                                   false, 0};
        if (packet->size > 4) {
            const uint32_t length = (uint32_t{packet->data[0]} << 24) | (packet->data[1] << 16) |
                                    (packet->data[2] << 8) | packet->data[3];
            sample.oneLengthPrefixedUnit = length + 4 == static_cast<uint32_t>(packet->size);
            sample.unitType = packet->data[4];
        }
        contents.samples.push_back(sample);
        av_packet_unref(packet.get());
    }
    return contents;
}

namespace {

uint32_t BigEndian32(const unsigned char* p)
{
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

std::vector<unsigned char> ReadAll(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

} // namespace

std::vector<std::string> TopLevelBoxes(const std::filesystem::path& file)
{
    const std::vector<unsigned char> bytes = ReadAll(file);
    std::vector<std::string> names;
    for (size_t at = 0; at + 8 <= bytes.size();) {
        uint64_t size = BigEndian32(&bytes[at]);
        names.emplace_back(reinterpret_cast<const char*>(&bytes[at + 4]), 4);
        if (size == 1 && at + 16 <= bytes.size())
            size = (uint64_t{BigEndian32(&bytes[at + 8])} << 32) | BigEndian32(&bytes[at + 12]);
        if (size == 0)
            size = bytes.size() - at;
        if (size < 8)
            break;
        at += size;
    }
    return names;
}

uint32_t MovieTimeScale(const std::filesystem::path& file)
{
    const std::vector<unsigned char> bytes = ReadAll(file);
    for (size_t at = 0; at + 8 <= bytes.size();) {
        const uint32_t size = BigEndian32(&bytes[at]);
        if (size < 8)
            break;
        if (std::memcmp(&bytes[at + 4], "moov", 4) == 0) {
            for (size_t in = at + 8; in + 8 <= at + size && in + 8 <= bytes.size();) {
                const uint32_t childSize = BigEndian32(&bytes[in]);
                if (childSize < 8)
                    break;
                // mvhd version 0: version/flags, creation, modification, then the time scale.
                if (std::memcmp(&bytes[in + 4], "mvhd", 4) == 0 && in + 24 <= bytes.size())
                    return bytes[in + 8] == 0 ? BigEndian32(&bytes[in + 20]) : BigEndian32(&bytes[in + 28]);
                in += childSize;
            }
        }
        at += size;
    }
    return 0;
}

std::vector<FramePtr> DecodeMp4(const std::filesystem::path& file)
{
    std::vector<FramePtr> pictures;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, file.c_str(), nullptr, nullptr) < 0)
        return pictures;
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> input(
        raw, [](AVFormatContext* c) { avformat_close_input(&c); });
    if (avformat_find_stream_info(input.get(), nullptr) < 0 || input->nb_streams == 0)
        return pictures;
    const AVCodec* codec = avcodec_find_decoder(input->streams[0]->codecpar->codec_id);
    CodecContextPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), input->streams[0]->codecpar) < 0 ||
        avcodec_open2(decoder.get(), codec, nullptr) < 0)
        return pictures;
    PacketPtr packet(av_packet_alloc());
    auto drain = [&] {
        for (;;) {
            FramePtr picture(av_frame_alloc());
            if (avcodec_receive_frame(decoder.get(), picture.get()) < 0)
                return;
            pictures.push_back(std::move(picture));
        }
    };
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        avcodec_send_packet(decoder.get(), packet.get());
        av_packet_unref(packet.get());
        drain();
    }
    avcodec_send_packet(decoder.get(), nullptr);
    drain();
    return pictures;
}

std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& folder)
{
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        if (entry.is_regular_file())
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::string RunCommand(const std::string& command)
{
    std::string output;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe)
        return output;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0)
        output.append(buffer, n);
    return output;
}

ScratchFolders::ScratchFolders()
{
    char pattern[] = "/tmp/vindrel-capture-XXXXXX";
    root = ::mkdtemp(pattern);
    temp = root / "tmp";
    media = root / "media";
    std::filesystem::create_directories(temp);
    std::filesystem::create_directories(media);
    // Each test process gets its own temporary folder, so parallel tests never see each other's
    // unfinished recordings.
    ::setenv("TMPDIR", temp.c_str(), 1);
}

bool ScratchFolders::MountTmpfs(const std::filesystem::path& folder)
{
    std::filesystem::create_directories(folder);
    if (::mount("vindrel-test", folder.c_str(), "tmpfs", 0, "size=64m") != 0)
        return false;
    mounts_.push_back(folder);
    return true;
}

ScratchFolders::~ScratchFolders()
{
    for (const std::filesystem::path& mount : mounts_)
        ::umount2(mount.c_str(), MNT_DETACH);
    std::error_code error;
    std::filesystem::remove_all(root, error);
}
