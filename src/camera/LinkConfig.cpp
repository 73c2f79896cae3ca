#include "camera/LinkConfig.h"

LinkConfig LinkConfig::Loopback(const std::string& adapterAddress, uint16_t commandPort, uint16_t tcpStreamPort,
                                uint16_t udpStreamPort)
{
    LinkConfig config;
    config.adapters = [adapterAddress]() -> std::optional<std::vector<AdapterInfo>> {
        return std::vector<AdapterInfo>{{"wlan-test", true, adapterAddress}};
    };
    config.commandPort = commandPort;
    config.tcpStreamPort = tcpStreamPort;
    config.udpStreamPort = udpStreamPort;
    config.route = [](const std::string&) { return std::string("127.0.0.1"); };
    return config;
}
