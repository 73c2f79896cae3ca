#include "platform/Adapters.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <filesystem>
#include <memory>

namespace {

struct IfAddrsDeleter {
    void operator()(ifaddrs* list) const { freeifaddrs(list); }
};

AdapterInfo& AdapterNamed(std::vector<AdapterInfo>& adapters, const char* name)
{
    auto it = std::find_if(adapters.begin(), adapters.end(), [&](const AdapterInfo& a) { return a.name == name; });
    if (it != adapters.end())
        return *it;
    adapters.push_back(AdapterInfo{name, IsWirelessInterface(name), {}});
    return adapters.back();
}

} // namespace

bool IsWirelessInterface(const std::string& name, const std::string& sysRoot)
{
    std::error_code ignored;
    const std::filesystem::path dir = std::filesystem::path(sysRoot) / name;
    return std::filesystem::exists(dir / "wireless", ignored) || std::filesystem::exists(dir / "phy80211", ignored);
}

std::optional<std::vector<AdapterInfo>> SystemAdapters()
{
    ifaddrs* raw = nullptr;
    if (getifaddrs(&raw) != 0)
        return std::nullopt;
    std::unique_ptr<ifaddrs, IfAddrsDeleter> list(raw);

    // Order by kernel interface index so that the walk is stable across calls.
    std::vector<std::pair<unsigned, const ifaddrs*>> entries;
    for (const ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_name != nullptr)
            entries.emplace_back(if_nametoindex(entry->ifa_name), entry);
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });

    std::vector<AdapterInfo> adapters;
    for (const auto& [index, entry] : entries) {
        AdapterInfo& adapter = AdapterNamed(adapters, entry->ifa_name);
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET || !adapter.firstIpv4.empty())
            continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr)
            adapter.firstIpv4 = text;
    }
    return adapters;
}
