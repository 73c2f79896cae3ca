#include "video/I420Frame.h"

FramePtr AllocI420Frame(int width, int height)
{
    FramePtr frame(av_frame_alloc());
    if (!frame)
        return nullptr;
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), 32) < 0)
        return nullptr;
    return frame;
}
