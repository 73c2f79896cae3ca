#include "camera/CVideoClient.h"

#include <utility>

CVideoClient::CVideoClient(LinkConfig config) : config_(std::move(config))
{
    // FFmpeg 5 registers its codecs by itself; only the network layer has a global set-up.
    avformat_network_init();
}

CVideoClient::~CVideoClient() = default;
