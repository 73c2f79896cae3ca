#pragma once

#include "capture/NalUnit.h"
#include "platform/UniqueFd.h"
#include "video/Bitmap.h"
#include "video/FfmpegHandles.h"

#include <cstdint>
#include <memory>
#include <string>

extern "C" {
#include <x264.h>
}

struct X264EncoderDeleter {
    void operator()(x264_t* encoder) const { x264_encoder_close(encoder); }
};
struct AVIOContextDeleter {
    void operator()(AVIOContext* io) const;
};
using X264EncoderPtr = std::unique_ptr<x264_t, X264EncoderDeleter>;
using IOContextPtr = std::unique_ptr<AVIOContext, AVIOContextDeleter>;

// Encodes 640x480 I420 pictures with x264 and stores them as one H.264 track of an MP4 file (time scale
// 90000, 4500 ticks a sample, each sample a 4-byte big-endian length and one NAL unit).
// While open, the file is a fragmented MP4 with a fragment per keyframe, synced to disk at each
// fragment, so a crash loses at most about a second; CloseFile rewrites it as an ordinary MP4.
// Calling order: OpenFile, EncodePicture..., CloseFile; then it may be opened again. OpenFile runs
// before the record thread starts; from then on only the record thread uses the writer.
class MP4Encoder {
  public:
    MP4Encoder() = default;
    ~MP4Encoder();
    MP4Encoder(const MP4Encoder&) = delete;
    MP4Encoder& operator=(const MP4Encoder&) = delete;

    // Creates the file and opens the encoder. Returns the file's handle, or null on any failure; a
    // failure after the file was created leaves it open, for CloseFile to close and remove.
    AVFormatContext* OpenFile(const char* path);
    // One picture with packed planes of width x height (Y) and width/2 x height/2 (U, V).
    void EncodePicture(const uint8_t* y, const uint8_t* u, const uint8_t* v,
                       ColorRange range = ColorRange::Limited);
    // One queued I420 picture; its colour range goes into the stream. A frame of another size or
    // format is dropped.
    void EncodePicture(const AVFrame& frame);
    // Stores the Annex B NAL units of buffer. -1: no file open or no buffer; 0: a track or a sample
    // could not be written (the rest of the buffer is skipped); else the bytes consumed.
    int WriteNalUnits(const uint8_t* buffer, int length);
    // Finishes the file. Returns true when an ordinary MP4 with at least one picture is left at the
    // path; a file without pictures is removed, and one that could not be rewritten stays as it is
    // (still fragmented, for RecoverUnfinishedRecordings). Does nothing on a closed writer.
    bool CloseFile();

    int width = 0;
    int height = 0;
    int frameRate = 0;
    int timeScale = 0;
    uint32_t trackId = 0; // 0 while no track exists
    uint8_t sps[1024] = {};
    uint8_t pps[4096] = {};
    int spsLength = 0;
    int ppsLength = 0;
    FormatContextPtr fileHandle; // null when no file is open
    x264_param_t params = {};
    x264_picture_t pictureIn = {};
    x264_picture_t pictureOut = {};
    X264EncoderPtr x264Handle;
    int pictureCount = 0; // keeps counting across recordings; only feeds i_pts
    int lastFrameSize = 0;
    x264_nal_t* nals = nullptr; // owned by x264
    int nalCount = 0;

  private:
    bool OpenEncoder();
    void EncodeInput(ColorRange range);
    bool CreateTrack();
    bool WriteSample(const NalUnit& unit, bool sync);

    std::string path_;
    UniqueFd fileFd_; // locked while open, so a recovery in another process leaves the file alone
    IOContextPtr io_;
    bool pictureAllocated_ = false;
    bool firstPictureSinceOpen_ = true;
    int64_t sampleCount_ = 0; // samples in this file; each sample's time is sampleCount_ * 4500
};
