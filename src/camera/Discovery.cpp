#include "camera/CVideoClient.h"

#include <array>
#include <string_view>

namespace {

struct SubnetRow {
    std::string_view prefix;
    CameraFamily family;
    std::string_view cameraAddress;
};

// Applied in this order; every prefix ends with a dot so that 192.168.250.x never matches 192.168.25.
constexpr std::array<SubnetRow, 11> kSubnets = {{
    {"192.168.234.", 0, "192.168.234.1"},
    {"192.168.25.", 1, "192.168.25.1"},
    {"192.168.123.", 2, "192.168.123.1"},
    {"175.16.10.", 3, "175.16.10.1"},
    {"192.168.26.", 4, "192.168.26.1"},
    {"192.168.27.", 5, "192.168.27.1"},
    {"192.168.28.", 6, "192.168.28.1"},
    {"192.168.29.", 8, "192.168.29.1"},
    {"192.168.30.", 7, "192.168.30.1"},
    {"192.168.31.", 9, "192.168.31.1"},
    {"192.168.34.", 5, "192.168.34.1"},
}};

// The first wireless address that is not "0.0.0.0"; "0.0.0.0" when the last wireless adapter had none,
// empty when there is no wireless adapter or the list cannot be read.
std::string FirstWirelessAddress(const AdapterSource& source)
{
    std::string result;
    if (!source)
        return result;
    const auto adapters = source();
    if (!adapters)
        return result;
    for (const AdapterInfo& adapter : *adapters) {
        if (!adapter.wireless)
            continue;
        result = adapter.firstIpv4.empty() ? std::string("0.0.0.0") : adapter.firstIpv4;
        if (result != "0.0.0.0")
            break;
    }
    return result;
}

} // namespace

std::string CVideoClient::FindCamera()
{
    std::string result = FirstWirelessAddress(config_.adapters);
    family = -1;
    for (const SubnetRow& row : kSubnets) {
        if (std::string_view(result).starts_with(row.prefix)) {
            family = row.family;
            result = row.cameraAddress;
        }
    }
    return result;
}
