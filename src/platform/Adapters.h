#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

// One network interface as discovery sees it: wireless or not, and its first IPv4 address
// ("0.0.0.0" or empty when it has none).
struct AdapterInfo {
    std::string name;
    bool wireless = false;
    std::string firstIpv4;
};

// The adapters in the system's order, or nothing when the list cannot be read.
using AdapterSource = std::function<std::optional<std::vector<AdapterInfo>>()>;

// The real system: getifaddrs in kernel interface order, wireless by sysfs.
std::optional<std::vector<AdapterInfo>> SystemAdapters();

// Whether /sys/class/net/NAME says the interface is wireless; sysRoot is for tests.
bool IsWirelessInterface(const std::string& name, const std::string& sysRoot = "/sys/class/net");
