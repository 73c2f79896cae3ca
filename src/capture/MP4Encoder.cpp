#include "capture/MP4Encoder.h"

#include "capture/Mp4Finish.h"
#include "platform/DebugPrint.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

namespace {

constexpr int kIoBufferSize = 64 * 1024;

int WriteToFd(void* opaque, uint8_t* data, int size)
{
    const int fd = *static_cast<const int*>(opaque);
    int done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, static_cast<size_t>(size - done));
        if (n < 0)
            return AVERROR(errno);
        done += static_cast<int>(n);
    }
    return done;
}

int64_t SeekFd(void* opaque, int64_t offset, int whence)
{
    const int fd = *static_cast<const int*>(opaque);
    if (whence == AVSEEK_SIZE) {
        const off_t here = ::lseek(fd, 0, SEEK_CUR);
        const off_t size = ::lseek(fd, 0, SEEK_END);
        ::lseek(fd, here, SEEK_SET);
        return size;
    }
    const off_t at = ::lseek(fd, offset, whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : at;
}

// x264 talks about its CPU flags and statistics at info level; only warnings and errors matter here.
void X264Log(void*, int level, const char* format, va_list args)
{
    if (level > X264_LOG_WARNING)
        return;
    char line[1024];
    std::vsnprintf(line, sizeof line, format, args);
    // DebugPrint ends the line itself.
    line[std::strcspn(line, "\n")] = '\0';
    DebugPrint("x264: %s", line);
}

// The avcC record: profile, compatibility and level from the SPS, 4-byte sample length fields, one SPS
// and one PPS.
std::vector<uint8_t> DecoderConfiguration(const uint8_t* sps, int spsLength, const uint8_t* pps,
                                          int ppsLength)
{
    std::vector<uint8_t> record = {1, sps[1], sps[2], sps[3], 0xFF, 0xE1};
    record.push_back(static_cast<uint8_t>(spsLength >> 8));
    record.push_back(static_cast<uint8_t>(spsLength));
    record.insert(record.end(), sps, sps + spsLength);
    record.push_back(1);
    record.push_back(static_cast<uint8_t>(ppsLength >> 8));
    record.push_back(static_cast<uint8_t>(ppsLength));
    record.insert(record.end(), pps, pps + ppsLength);
    return record;
}

} // namespace

void AVIOContextDeleter::operator()(AVIOContext* io) const
{
    av_freep(&io->buffer);
    avio_context_free(&io);
}

MP4Encoder::~MP4Encoder()
{
    CloseFile();
}

AVFormatContext* MP4Encoder::OpenFile(const char* path)
{
    if (path == nullptr)
        return nullptr;
    if (fileHandle)
        CloseFile();

    // Truncating, like any writer given a path: choosing a free name is the caller's job.
    UniqueFd fd(::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    AVFormatContext* context = nullptr;
    if (fd.valid())
        avformat_alloc_output_context2(&context, nullptr, "mp4", path);
    if (context == nullptr) {
        if (fd.valid())
            ::unlink(path);
        std::fprintf(stderr, "MP4Encoder ERROR: Open file[%s] fialed.\n", path);
        return nullptr;
    }
    ::flock(fd.get(), LOCK_EX | LOCK_NB);
    path_ = path;
    fileFd_ = std::move(fd);
    fileHandle.reset(context);
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
    if (buffer != nullptr) {
        io_.reset(avio_alloc_context(buffer, kIoBufferSize, 1, &fileFd_, nullptr, WriteToFd, SeekFd));
        if (!io_)
            av_free(buffer);
    }
    fileHandle->pb = io_.get();
    fileHandle->flags |= AVFMT_FLAG_CUSTOM_IO;

    width = 640;
    height = 480;
    timeScale = 90000;
    frameRate = 20;
    spsLength = 0;
    ppsLength = 0;
    trackId = 0;
    sampleCount_ = 0;
    firstPictureSinceOpen_ = true;
    if (!io_)
        return nullptr;

    if (x264_param_default_preset(&params, "faster", "zerolatency") < 0)
        return nullptr;
    params.i_csp = X264_CSP_I420;
    params.i_width = width;
    params.i_height = height;
    params.b_vfr_input = 0;
    params.b_repeat_headers = 1;
    params.b_annexb = 1;
    params.i_fps_num = static_cast<uint32_t>(frameRate);
    params.i_fps_den = 1;
    params.i_threads = 1;
    params.i_keyint_max = 20;
    params.i_slice_count = 1;
    params.rc.f_rf_constant = 24.0f;
    params.rc.f_rf_constant_max = 45.0f;
    params.rc.i_qp_min = 10;
    params.rc.i_qp_max = 50;
    params.rc.i_rc_method = X264_RC_ABR;
    params.rc.i_bitrate = 300;
    params.rc.i_vbv_max_bitrate = 360;
    // Limited range unless the first picture says otherwise (EncodeInput).
    params.vui.b_fullrange = 0;
    params.i_log_level = X264_LOG_WARNING;
    params.pf_log = X264Log;
    if (x264_param_apply_profile(&params, "main") < 0)
        return nullptr;
    if (x264_picture_alloc(&pictureIn, params.i_csp, params.i_width, params.i_height) < 0)
        return nullptr;
    pictureAllocated_ = true;
    if (!OpenEncoder()) {
        x264_picture_clean(&pictureIn);
        pictureAllocated_ = false;
        return nullptr;
    }
    return fileHandle.get();
}

bool MP4Encoder::OpenEncoder()
{
    x264Handle.reset(x264_encoder_open(&params));
    return x264Handle != nullptr;
}

void MP4Encoder::EncodePicture(const uint8_t* y, const uint8_t* u, const uint8_t* v, ColorRange range)
{
    if (!x264Handle || y == nullptr || u == nullptr || v == nullptr)
        return;
    const size_t lumaSize = static_cast<size_t>(width) * static_cast<size_t>(height);
    std::memcpy(pictureIn.img.plane[0], y, lumaSize);
    std::memcpy(pictureIn.img.plane[1], u, lumaSize / 4);
    std::memcpy(pictureIn.img.plane[2], v, lumaSize / 4);
    EncodeInput(range);
}

void MP4Encoder::EncodePicture(const AVFrame& frame)
{
    const bool i420 = frame.format == AV_PIX_FMT_YUV420P || frame.format == AV_PIX_FMT_YUVJ420P;
    if (!x264Handle || !i420 || frame.width != width || frame.height != height || frame.data[0] == nullptr ||
        frame.data[1] == nullptr || frame.data[2] == nullptr)
        return;
    for (int plane = 0; plane < 3; ++plane) {
        const int rows = plane == 0 ? height : height / 2;
        const int bytes = plane == 0 ? width : width / 2;
        for (int row = 0; row < rows; ++row)
            std::memcpy(pictureIn.img.plane[plane] + row * pictureIn.img.i_stride[plane],
                        frame.data[plane] + static_cast<ptrdiff_t>(row) * frame.linesize[plane],
                        static_cast<size_t>(bytes));
    }
    const bool full = frame.color_range == AVCOL_RANGE_JPEG || frame.format == AV_PIX_FMT_YUVJ420P;
    EncodeInput(full ? ColorRange::Full : ColorRange::Limited);
}

void MP4Encoder::EncodeInput(ColorRange range)
{
    // The range goes into the stream's VUI, which x264 fixes when it opens, and only the first picture
    // tells which range the camera delivers: reopen before anything was encoded when it differs.
    const int fullRange = range == ColorRange::Full ? 1 : 0;
    if (firstPictureSinceOpen_ && params.vui.b_fullrange != fullRange) {
        params.vui.b_fullrange = fullRange;
        if (!OpenEncoder())
            return;
    }
    firstPictureSinceOpen_ = false;

    pictureIn.i_pts = static_cast<int64_t>(pictureCount);
    ++pictureCount;
    lastFrameSize = x264_encoder_encode(x264Handle.get(), &nals, &nalCount, &pictureIn, &pictureOut);
    if (lastFrameSize > 0 && nalCount > 0) {
        for (int i = 0; i < nalCount; ++i)
            WriteNalUnits(nals[i].p_payload, nals[i].i_payload);
    }
}

int MP4Encoder::WriteNalUnits(const uint8_t* buffer, int length)
{
    if (!fileHandle || buffer == nullptr)
        return -1;
    int position = 0;
    for (;;) {
        NalUnit unit;
        const int consumed = NextNalUnit(buffer, length, position, unit);
        if (consumed == 0)
            return position;
        const int unitLength = static_cast<int>(unit.length);
        switch (unit.type) {
        case 0x67:
            // A parameter set too big for its store is ignored rather than cut.
            if (unitLength <= static_cast<int>(sizeof sps)) {
                std::memcpy(sps, unit.data, unit.length);
                spsLength = unitLength;
            }
            break;
        case 0x68:
            if (unitLength <= static_cast<int>(sizeof pps)) {
                std::memcpy(pps, unit.data, unit.length);
                ppsLength = unitLength;
            }
            break;
        case 0x65:
            if (spsLength > 0 && ppsLength > 0 && trackId == 0 && !CreateTrack()) {
                std::fputs("add video track failed.\n", stdout);
                return 0;
            }
            if (!WriteSample(unit, true))
                return 0;
            break;
        case 0x41:
            if (!WriteSample(unit, false))
                return 0;
            break;
        default:
            break;
        }
        position += consumed;
    }
}

bool MP4Encoder::CreateTrack()
{
    // The parameter sets go into the track's configuration once; later IDR pictures of this
    // encoder repeat the same ones.
    AVStream* stream = avformat_new_stream(fileHandle.get(), nullptr);
    if (stream == nullptr || spsLength < 4)
        return false;
    const std::vector<uint8_t> config = DecoderConfiguration(sps, spsLength, pps, ppsLength);
    AVCodecParameters* par = stream->codecpar;
    par->extradata = static_cast<uint8_t*>(av_mallocz(config.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (par->extradata == nullptr)
        return false;
    std::memcpy(par->extradata, config.data(), config.size());
    par->extradata_size = static_cast<int>(config.size());
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = AV_CODEC_ID_H264;
    par->width = width;
    par->height = height;
    par->color_range = params.vui.b_fullrange == 1 ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    stream->time_base = AVRational{1, timeScale};
    stream->avg_frame_rate = AVRational{frameRate, 1};

    AVDictionary* options = nullptr;
    SetMp4Options(&options);
    // Fragments at each keyframe: what is on disk is always a playable file.
    av_dict_set(&options, "movflags", "frag_keyframe+empty_moov", 0);
    const int result = avformat_write_header(fileHandle.get(), &options);
    av_dict_free(&options);
    if (result < 0)
        return false;
    trackId = static_cast<uint32_t>(stream->index) + 1;
    return true;
}

bool MP4Encoder::WriteSample(const NalUnit& unit, bool sync)
{
    PacketPtr packet(trackId != 0 ? av_packet_alloc() : nullptr);
    if (!packet || av_new_packet(packet.get(), static_cast<int>(unit.length) + 4) < 0) {
        std::fputs("MP4WriteSample() failed!\n", stdout);
        return false;
    }
    packet->data[0] = static_cast<uint8_t>(unit.length >> 24);
    packet->data[1] = static_cast<uint8_t>(unit.length >> 16);
    packet->data[2] = static_cast<uint8_t>(unit.length >> 8);
    packet->data[3] = static_cast<uint8_t>(unit.length);
    std::memcpy(packet->data + 4, unit.data, unit.length);
    const int64_t duration = timeScale / frameRate;
    packet->pts = packet->dts = sampleCount_ * duration;
    packet->duration = duration;
    packet->stream_index = 0;
    if (sync)
        packet->flags |= AV_PKT_FLAG_KEY;
    if (av_write_frame(fileHandle.get(), packet.get()) < 0) {
        std::fputs("MP4WriteSample() failed!\n", stdout);
        return false;
    }
    ++sampleCount_;
    if (sync) {
        // A keyframe has just written out the previous fragment: put it on the disk.
        avio_flush(fileHandle->pb);
        ::fdatasync(fileFd_.get());
    }
    return true;
}

bool MP4Encoder::CloseFile()
{
    if (!fileHandle)
        return false;
    const bool hasPictures = trackId != 0 && sampleCount_ > 0;
    bool complete = false;
    if (trackId != 0)
        complete = av_write_trailer(fileHandle.get()) >= 0;
    if (io_)
        avio_flush(io_.get());
    fileHandle.reset();
    io_.reset();
    fileFd_.reset();
    x264Handle.reset();
    if (pictureAllocated_)
        x264_picture_clean(&pictureIn);
    pictureAllocated_ = false;
    spsLength = 0;
    ppsLength = 0;
    trackId = 0;

    std::error_code error;
    if (!hasPictures) {
        // A file without a picture would only be an unplayable stub in the media folder.
        std::filesystem::remove(path_, error);
        return false;
    }
    if (!complete)
        DebugPrint("MP4Encoder: could not finish %s", path_.c_str());
    const FinishResult result = FinishMp4File(path_);
    if (result == FinishResult::Empty)
        std::filesystem::remove(path_, error);
    return result == FinishResult::Finished;
}
