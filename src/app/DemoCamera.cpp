#include "app/DemoCamera.h"

#include "camsim/CameraSimulator.h"
#include "platform/UniqueFd.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

constexpr uint16_t kCameraUdpPort = 10900;
constexpr char kDemoAdapterAddress[] = "192.168.29.100";

// Binds a UDP socket on every local address at port (0: any) and returns the port it got, 0 on failure.
uint16_t TryUdpPort(uint16_t port) {
    const UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd.valid())
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return 0;
    socklen_t length = sizeof address;
    if (::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

} // namespace

uint16_t PickDemoUdpPort() {
    if (const uint16_t port = TryUdpPort(kCameraUdpPort))
        return port;
    return TryUdpPort(0);
}

DemoCamera::DemoCamera() = default;
DemoCamera::~DemoCamera() = default;

bool DemoCamera::Start() {
    m_udpPort = PickDemoUdpPort();
    if (m_udpPort == 0)
        return false;
    camsim::SimOptions options;
    options.family = 8;
    options.width = 640;
    options.height = 480;
    options.fps = 25;
    options.udpTargetPort = m_udpPort;
    m_simulator = std::make_unique<camsim::CameraSimulator>(options);
    if (!m_simulator->Start()) {
        m_simulator.reset();
        return false;
    }
    return true;
}

LinkConfig DemoCamera::Link() const {
    if (!m_simulator)
        return LinkConfig{};
    return LinkConfig::Loopback(kDemoAdapterAddress, m_simulator->commandPort(), m_simulator->tcpPort(),
                                m_udpPort);
}
