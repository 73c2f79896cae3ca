#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

// How the luma and chroma values of a picture span their 8 bits: JPEG pictures use all 256 levels,
// most H.264 streams 16 to 235.
enum class ColorRange { Limited, Full };

// Leaves new elements uninitialised on resize: the pipeline overwrites every pixel at once, and zeroing
// megabytes first would cost as much as the colour conversion.
template <typename T>
struct DefaultInitAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = DefaultInitAllocator<U>;
    };
    using std::allocator<T>::allocator;
    template <typename U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>)
    {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

using PixelBuffer = std::vector<uint8_t, DefaultInitAllocator<uint8_t>>;

// An immutable 32-bit top-down picture: bytes blue, green, red, alpha (255), rows of width * 4 bytes.
// Shared read-only between the pipeline, the view and the photo.
struct Bitmap {
    int width = 0;
    int height = 0;
    ColorRange range = ColorRange::Limited; // of the picture it was made from
    PixelBuffer pixels; // resize() leaves new bytes unset; assign() or a fill sets them

    int stride() const { return width * 4; }
    const uint8_t* row(int y) const { return pixels.data() + static_cast<size_t>(y) * stride(); }
};

using BitmapPtr = std::shared_ptr<const Bitmap>;
