#include "camera/CVideoClient.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

struct DiscoveryCase {
    const char* name;
    std::vector<AdapterInfo> adapters;
    CameraFamily family;
    std::string address;
};

LinkConfig WithAdapters(std::vector<AdapterInfo> adapters)
{
    LinkConfig config;
    config.adapters = [adapters]() -> std::optional<std::vector<AdapterInfo>> { return adapters; };
    return config;
}

AdapterInfo Wifi(const char* address) { return {"wlan", true, address}; }
AdapterInfo Wired(const char* address) { return {"eth", false, address}; }

} // namespace

// Catches a wrong row order, a prefix without its dot, or a walk that looks at the wrong adapter.
TEST(Discovery, SubnetTable)
{
    const DiscoveryCase cases[] = {
        {"row 1", {Wifi("192.168.234.9")}, 0, "192.168.234.1"},
        {"row 2", {Wifi("192.168.25.3")}, 1, "192.168.25.1"},
        {"prefix ends with a dot", {Wifi("192.168.250.7")}, -1, "192.168.250.7"},
        {"row 3", {Wifi("192.168.123.4")}, 2, "192.168.123.1"},
        {"175.16 not 172.16", {Wifi("175.16.10.8")}, 3, "175.16.10.1"},
        {"172.16 is no camera", {Wifi("172.16.10.8")}, -1, "172.16.10.8"},
        {"row 5", {Wifi("192.168.26.2")}, 4, "192.168.26.1"},
        {"family 5 first subnet", {Wifi("192.168.27.15")}, 5, "192.168.27.1"},
        {"family 5 second subnet", {Wifi("192.168.34.2")}, 5, "192.168.34.1"},
        {"family 6", {Wifi("192.168.28.3")}, 6, "192.168.28.1"},
        {"family 8", {Wifi("192.168.29.100")}, 8, "192.168.29.1"},
        {"family 7", {Wifi("192.168.30.100")}, 7, "192.168.30.1"},
        {"row 10 only", {Wifi("192.168.31.20")}, 9, "192.168.31.1"},
        {"wired adapter ignored", {Wired("192.168.31.5")}, -1, ""},
        {"wired before wireless", {Wired("192.168.31.5"), Wifi("192.168.29.7")}, 8, "192.168.29.1"},
        {"0.0.0.0 skipped", {Wifi("0.0.0.0"), Wifi("192.168.28.3")}, 6, "192.168.28.1"},
        {"no address is 0.0.0.0", {Wifi(""), Wifi("192.168.28.3")}, 6, "192.168.28.1"},
        {"only 0.0.0.0", {Wifi("0.0.0.0")}, -1, "0.0.0.0"},
        {"first wireless address wins", {Wifi("10.0.0.5"), Wifi("192.168.29.4")}, -1, "10.0.0.5"},
        {"outside the table", {Wifi("10.0.0.5")}, -1, "10.0.0.5"},
        {"no adapters", {}, -1, ""},
    };
    for (const DiscoveryCase& c : cases) {
        CVideoClient client(WithAdapters(c.adapters));
        EXPECT_EQ(client.FindCamera(), c.address) << c.name;
        EXPECT_EQ(client.family, c.family) << c.name;
    }
}

TEST(Discovery, UnreadableAdapterListGivesNoCamera)
{
    LinkConfig config;
    config.adapters = []() -> std::optional<std::vector<AdapterInfo>> { return std::nullopt; };
    CVideoClient client(config);
    client.family = 8;
    EXPECT_EQ(client.FindCamera(), "");
    EXPECT_EQ(client.family, -1);
}

// The build and CI machines have no Wi-Fi: the real scan must run and find nothing to dial.
TEST(Discovery, RealAdaptersOnThisMachine)
{
    const auto adapters = SystemAdapters();
    ASSERT_TRUE(adapters.has_value());
    bool sawLoopback = false;
    for (const AdapterInfo& adapter : *adapters) {
        EXPECT_FALSE(adapter.wireless) << adapter.name;
        if (adapter.name == "lo") {
            sawLoopback = true;
            EXPECT_EQ(adapter.firstIpv4, "127.0.0.1");
        }
    }
    EXPECT_TRUE(sawLoopback);
    CVideoClient client;
    EXPECT_EQ(client.FindCamera(), "");
    EXPECT_EQ(client.family, -1);
}

TEST(Discovery, WirelessBySysfs)
{
    const auto root = std::filesystem::path(testing::TempDir()) / "sysnet";
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root / "wlan0" / "wireless");
    std::filesystem::create_directories(root / "wlp2s0");
    std::ofstream(root / "wlp2s0" / "phy80211") << "";
    std::filesystem::create_directories(root / "eth0");
    EXPECT_TRUE(IsWirelessInterface("wlan0", root.string()));
    EXPECT_TRUE(IsWirelessInterface("wlp2s0", root.string()));
    EXPECT_FALSE(IsWirelessInterface("eth0", root.string()));
    EXPECT_FALSE(IsWirelessInterface("absent", root.string()));
}
