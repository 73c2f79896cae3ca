#include "StreamFile.h"

#include <fstream>
#include <iterator>

std::vector<std::vector<uint8_t>> ReadMjpegFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::vector<uint8_t>> images;
    size_t start = 0;
    // Inside entropy-coded data FF is always followed by 00 or a restart marker, so FF D9 ends an image.
    for (size_t i = 0; i + 1 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xD9) {
            images.emplace_back(bytes.begin() + static_cast<ptrdiff_t>(start),
                                bytes.begin() + static_cast<ptrdiff_t>(i + 2));
            start = i + 2;
            ++i;
        }
    }
    return images;
}
