#include "camera/CVideoClient.h"

#include <unistd.h>

#include <utility>

CVideoClient::CVideoClient(LinkConfig config) : config_(std::move(config))
{
    // FFmpeg 5 registers its codecs by itself; only the network layer has a global set-up.
    avformat_network_init();
}

CVideoClient::~CVideoClient()
{
    // The owner calls Stop first; this only makes sure no thread outlives the client.
    FinishRecording();
    running = 0;
    JoinReceiveThread();
    const int fd = sock.exchange(-1);
    if (fd != -1)
        ::close(fd);
    avformat_network_deinit();
}

void CVideoClient::JoinReceiveThread()
{
    if (receiveThread_.joinable())
        receiveThread_.join();
}
