#pragma once

#include <cstdint>
#include <optional>
#include <vector>

// Where the centre of a picture enlarged by a zoom factor lies: the enlarged size (multiples of 4)
// and the offset of the picture-sized window that is shown.
struct ZoomWindow {
    int zoomedWidth = 0;
    int zoomedHeight = 0;
    int cropX = 0;
    int cropY = 0;
};

// Empty when the picture is shown as it is: no zoom (factors from 1.0 to just under 1.01), a factor
// that is not a finite positive number, or a picture too small for the window to fit inside it.
std::optional<ZoomWindow> ComputeZoom(int width, int height, float zoom);

// Fills dst (dstWidth x dstHeight) with the window of src that ComputeZoom chose, as if src were first
// scaled to zoomedWidth x zoomedHeight with bilinear filtering and then cropped at (cropX, cropY), but
// scaling only the part that stays visible. The arguments are of one plane (halved for chroma); scratch
// is reused between calls and holds the few extra samples that place the visible ones exactly.
void ScaleVisiblePart(const uint8_t* src, int srcStride, int srcWidth, int srcHeight, int zoomedWidth,
                      int zoomedHeight, int cropX, int cropY, uint8_t* dst, int dstStride, int dstWidth,
                      int dstHeight, std::vector<uint8_t>& scratch);
