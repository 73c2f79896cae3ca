#pragma once

#include "video/FfmpegHandles.h"

// A planar 4:2:0 frame that owns its buffer, or null when it cannot be had. Rows are aligned to 32
// bytes, so a 640-pixel-wide frame has strides 640 and 320.
FramePtr AllocI420Frame(int width, int height);
