#include "camera/CVideoClient.h"
#include "FuzzInput.h"

extern "C" {
#include <libavutil/log.h>
}

// Any bytes handed to the JPEG decoder path come back as a picture or a clean drop. No callback is set,
// so a decoded picture goes through conversion and zoom but is not shown.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    av_log_set_level(AV_LOG_QUIET);
    // A fresh client per input, so that a crash reproduces from its input alone.
    CVideoClient client;
    client.SetupMjpegDecoder();
    FUZZ_CHECK(client.codecContext != nullptr);
    // An exact-size heap copy, so a read past the end is caught.
    const auto bytes = std::make_unique<uint8_t[]>(size);
    std::copy(data, data + size, bytes.get());
    client.DecodeFrame(static_cast<const uint8_t*>(bytes.get()), static_cast<int>(size));
    return 0;
}
