#include "camsim/H264Encoder.h"

#include <x264.h>

#include <algorithm>
#include <cmath>

namespace camsim {

void H264Encoder::Closer::operator()(x264_t* encoder) const
{
    x264_encoder_close(encoder);
}

bool H264Encoder::Open(int width, int height, double fps)
{
    x264_param_t param;
    if (x264_param_default_preset(&param, "veryfast", "zerolatency") != 0) {
        error_ = "x264 refused its preset";
        return false;
    }
    param.i_csp = X264_CSP_I420;
    param.i_width = width;
    param.i_height = height;
    param.i_fps_num = static_cast<uint32_t>(std::lround(fps * 1000));
    param.i_fps_den = 1000;
    param.i_keyint_max = std::max(1, static_cast<int>(std::lround(fps)));
    param.b_repeat_headers = 1;
    param.b_annexb = 1;
    // One thread: the simulator shares the machine with the client it feeds.
    param.i_threads = 1;
    param.i_log_level = X264_LOG_NONE;
    param.rc.i_rc_method = X264_RC_CRF;
    param.rc.f_rf_constant = 23;
    if (x264_param_apply_profile(&param, "baseline") != 0) {
        error_ = "x264 refused the baseline profile";
        return false;
    }
    encoder_.reset(x264_encoder_open(&param));
    if (!encoder_) {
        error_ = "x264 could not open an encoder for " + std::to_string(width) + "x" + std::to_string(height);
        return false;
    }
    width_ = width;
    height_ = height;
    pts_ = 0;
    return true;
}

std::vector<uint8_t> H264Encoder::Encode(const uint8_t* y, const uint8_t* u, const uint8_t* v,
                                         bool forceKeyFrame)
{
    if (!encoder_)
        return {};
    x264_picture_t input;
    x264_picture_init(&input);
    input.img.i_csp = X264_CSP_I420;
    input.img.i_plane = 3;
    input.img.plane[0] = const_cast<uint8_t*>(y);
    input.img.plane[1] = const_cast<uint8_t*>(u);
    input.img.plane[2] = const_cast<uint8_t*>(v);
    input.img.i_stride[0] = width_;
    input.img.i_stride[1] = width_ / 2;
    input.img.i_stride[2] = width_ / 2;
    input.i_pts = pts_++;
    input.i_type = forceKeyFrame ? X264_TYPE_IDR : X264_TYPE_AUTO;

    x264_picture_t output;
    x264_nal_t* nals = nullptr;
    int nalCount = 0;
    const int bytes = x264_encoder_encode(encoder_.get(), &nals, &nalCount, &input, &output);
    if (bytes <= 0 || nals == nullptr)
        return {};
    // x264 lays the NAL units of one picture out back to back, start codes included.
    return std::vector<uint8_t>(nals[0].p_payload, nals[0].p_payload + bytes);
}

} // namespace camsim
