#pragma once

#include "platform/Adapters.h"

#include <cstdint>
#include <functional>
#include <string>

// Where the camera link looks and dials. The default is the real system; tests and the demo give a
// fake wireless adapter and a route to loopback so that discovery still runs the real table.
struct LinkConfig {
    AdapterSource adapters = SystemAdapters;
    uint16_t commandPort = 20000; // camera's UDP command port
    uint16_t tcpStreamPort = 8080; // camera's TCP stream port (families 5 and 9)
    uint16_t udpStreamPort = 10900; // our UDP port for families 6 and 8
    // Maps a camera address to the address actually dialled; empty means the identity.
    std::function<std::string(const std::string&)> route;

    std::string Dial(const std::string& cameraAddress) const { return route ? route(cameraAddress) : cameraAddress; }

    // A config that sends everything to 127.0.0.1 and finds one wireless adapter at adapterAddress.
    static LinkConfig Loopback(const std::string& adapterAddress, uint16_t commandPort, uint16_t tcpStreamPort,
                               uint16_t udpStreamPort);
};
