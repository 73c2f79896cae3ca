#pragma once

#include "camera/LinkConfig.h"

#include <cstdint>
#include <memory>

namespace camsim {
class CameraSimulator;
}

// The camera of --demo: the simulator on loopback as a family-8 camera, 640x480 at 25 pictures per
// second, reached through the real discovery table by a fake wireless adapter in its subnet.
class DemoCamera {
  public:
    DemoCamera();
    ~DemoCamera();
    DemoCamera(const DemoCamera&) = delete;
    DemoCamera& operator=(const DemoCamera&) = delete;

    bool Start();
    // Valid after a successful Start.
    LinkConfig Link() const;

  private:
    std::unique_ptr<camsim::CameraSimulator> m_simulator;
    uint16_t m_udpPort = 0;
};

// The camera's usual UDP port when it is free here, else a free one the system picks.
uint16_t PickDemoUdpPort();
