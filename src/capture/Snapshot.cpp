#include "capture/Snapshot.h"

#include "capture/MediaFolder.h"
#include "platform/UniqueFd.h"

#include <turbojpeg.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <unistd.h>

namespace {

struct TjHandleDeleter {
    void operator()(void* handle) const { tjDestroy(handle); }
};
using TjHandle = std::unique_ptr<void, TjHandleDeleter>;

struct TjBufferDeleter {
    void operator()(unsigned char* buffer) const { tjFree(buffer); }
};
using TjBuffer = std::unique_ptr<unsigned char, TjBufferDeleter>;

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

} // namespace

std::vector<uint8_t> EncodeSnapshot(const Bitmap& bitmap, int quality) {
    std::vector<uint8_t> jpeg;
    const size_t expected = static_cast<size_t>(bitmap.stride()) * static_cast<size_t>(bitmap.height);
    if (bitmap.width <= 0 || bitmap.height <= 0 || bitmap.pixels.size() < expected)
        return jpeg;
    TjHandle handle(tjInitCompress());
    if (!handle)
        return jpeg;
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    const int result = tjCompress2(handle.get(), bitmap.pixels.data(), bitmap.width, bitmap.stride(),
                                   bitmap.height, TJPF_BGRX, &out, &outSize, TJSAMP_420, quality, 0);
    TjBuffer owned(out);
    if (result != 0 || !owned || outSize == 0)
        return jpeg;
    jpeg.assign(owned.get(), owned.get() + outSize);
    return jpeg;
}

std::string SavePhoto(const Bitmap& bitmap, const std::string& mediaPath) {
    const std::vector<uint8_t> jpeg = EncodeSnapshot(bitmap);
    if (jpeg.empty())
        return {};
    std::filesystem::path chosen;
    UniqueFd fd = CreateFreeFile(MediaFileName(mediaPath, MediaKind::Photo), chosen);
    if (!fd.valid())
        return {};
    bool ok = WriteAll(fd.get(), jpeg.data(), jpeg.size());
    ok = (::close(fd.release()) == 0) && ok;
    if (!ok) {
        ::unlink(chosen.c_str());
        return {};
    }
    return chosen.string();
}
