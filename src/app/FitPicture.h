#pragma once

// Where a pw x ph picture goes inside a W x H area: aspect kept, centred. The arithmetic is single
// precision with truncation, so the placement matches the original program pixel for pixel.
struct FitRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

inline FitRect FitPicture(int pw, int ph, int areaWidth, int areaHeight) {
    FitRect rect;
    if (pw <= 0 || ph <= 0 || areaWidth <= 0 || areaHeight <= 0)
        return rect;
    const float r = static_cast<float>(pw) / static_cast<float>(ph);
    if (static_cast<float>(areaWidth) / static_cast<float>(areaHeight) >= r) {
        rect.height = areaHeight;
        rect.width = static_cast<int>(static_cast<float>(areaHeight) * r);
    } else {
        rect.width = areaWidth;
        rect.height = static_cast<int>(static_cast<float>(areaWidth) / r);
    }
    rect.x = (areaWidth - rect.width) / 2;
    rect.y = (areaHeight - rect.height) / 2;
    if (rect.x < 0)
        rect.x = 0;
    if (rect.y < 0)
        rect.y = 0;
    return rect;
}
