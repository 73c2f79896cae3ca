#include "capture/Mp4Finish.h"

#include "platform/DebugPrint.h"
#include "platform/UniqueFd.h"
#include "video/FfmpegHandles.h"

#include <fcntl.h>
#include <unistd.h>

#include <system_error>

namespace {

struct InputCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
using InputPtr = std::unique_ptr<AVFormatContext, InputCloser>;

// Data must reach the disk before the rename makes it the recording, or a power cut could leave an
// empty file under the recording's name.
void SyncPath(const std::filesystem::path& path)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.valid())
        ::fsync(fd.get());
}

} // namespace

void SetMp4Options(AVDictionary** options)
{
    av_dict_set(options, "movie_timescale", "90000", 0);
    av_dict_set(options, "video_track_timescale", "90000", 0);
    // The object descriptor says "no capability required" for video, as our files always have.
    av_dict_set(options, "skip_iods", "0", 0);
    av_dict_set(options, "iods_video_profile", "127", 0);
}

bool HasWholeLengthPrefixedUnits(const uint8_t* data, int size)
{
    if (data == nullptr || size <= 4)
        return false;
    int64_t at = 0;
    while (at < size) {
        if (size - at < 5)
            return false;
        const int64_t length =
            (int64_t{data[at]} << 24) | (data[at + 1] << 16) | (data[at + 2] << 8) | data[at + 3];
        if (length == 0 || length > size - at - 4)
            return false;
        at += 4 + length;
    }
    return true;
}

FinishResult FinishMp4File(const std::filesystem::path& file)
{
    std::error_code error;
    if (std::filesystem::file_size(file, error) == 0 && !error)
        return FinishResult::Empty;

    AVFormatContext* rawInput = nullptr;
    if (avformat_open_input(&rawInput, file.c_str(), nullptr, nullptr) < 0)
        return FinishResult::Unreadable;
    InputPtr input(rawInput);
    int videoIndex = -1;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVCodecParameters* par = input->streams[i]->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_VIDEO && par->codec_id == AV_CODEC_ID_H264) {
            videoIndex = static_cast<int>(i);
            break;
        }
    }
    if (videoIndex < 0)
        return input->nb_streams == 0 ? FinishResult::Empty : FinishResult::Unreadable;
    const AVStream* in = input->streams[videoIndex];

    std::filesystem::path partial = file;
    partial += ".remux";
    AVFormatContext* rawOutput = nullptr;
    if (avformat_alloc_output_context2(&rawOutput, nullptr, "mp4", partial.c_str()) < 0)
        return FinishResult::Unreadable;
    FormatContextPtr output(rawOutput);
    AVStream* out = avformat_new_stream(output.get(), nullptr);
    if (out == nullptr || avcodec_parameters_copy(out->codecpar, in->codecpar) < 0)
        return FinishResult::Unreadable;
    out->codecpar->codec_tag = 0;
    out->time_base = AVRational{1, 90000};
    if (avio_open(&output->pb, partial.c_str(), AVIO_FLAG_WRITE) < 0)
        return FinishResult::Unreadable;

    bool written = false;
    int64_t packets = 0;
    PacketPtr packet(av_packet_alloc());
    AVDictionary* options = nullptr;
    SetMp4Options(&options);
    if (packet && avformat_write_header(output.get(), &options) >= 0) {
        // Any read error ends the copy: after a crash, the tail of the last fragment may be missing.
        while (av_read_frame(input.get(), packet.get()) >= 0) {
            const bool whole =
                packet->stream_index == videoIndex && HasWholeLengthPrefixedUnits(packet->data, packet->size);
            if (packet->stream_index == videoIndex && !whole) {
                av_packet_unref(packet.get());
                break;
            }
            if (whole) {
                packet->stream_index = 0;
                packet->pos = -1;
                av_packet_rescale_ts(packet.get(), in->time_base, out->time_base);
                if (av_write_frame(output.get(), packet.get()) < 0) {
                    av_packet_unref(packet.get());
                    break;
                }
                ++packets;
            }
            av_packet_unref(packet.get());
        }
        written = av_write_trailer(output.get()) >= 0;
    }
    av_dict_free(&options);
    written = avio_closep(&output->pb) >= 0 && written;
    if (!written || packets == 0) {
        std::filesystem::remove(partial, error);
        if (!written)
            DebugPrint("recording %s could not be rewritten", file.c_str());
        return written ? FinishResult::Empty : FinishResult::Unreadable;
    }
    SyncPath(partial);
    std::filesystem::rename(partial, file, error);
    if (error) {
        std::filesystem::remove(partial, error);
        return FinishResult::Unreadable;
    }
    SyncPath(file.parent_path());
    return FinishResult::Finished;
}
