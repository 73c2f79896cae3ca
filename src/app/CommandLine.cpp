#include "app/CommandLine.h"

#include <arpa/inet.h>

#include <charconv>

namespace {

// An adapter address in each streamable family's subnet.
const char* FamilyAdapterAddress(int family) {
    switch (family) {
    case 5:
        return "192.168.34.100";
    case 6:
        return "192.168.28.100";
    case 8:
        return "192.168.29.100";
    case 9:
        return "192.168.31.100";
    default:
        return nullptr;
    }
}

bool IsIpv4Address(const std::string& text) {
    in_addr address{};
    return ::inet_pton(AF_INET, text.c_str(), &address) == 1;
}

} // namespace

AppOptions ParseCommandLine(const std::vector<std::string>& args) {
    AppOptions options;
    bool familyGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version" || arg == "-v") {
            options.version = true;
        } else if (arg == "--demo") {
            options.demo = true;
        } else if (arg == "--camera" || arg == "--family") {
            if (i + 1 >= args.size()) {
                options.error = arg + " needs a value";
                return options;
            }
            const std::string& value = args[++i];
            if (arg == "--camera") {
                if (!IsIpv4Address(value)) {
                    options.error = "--camera needs an IPv4 address, not '" + value + "'";
                    return options;
                }
                options.cameraHost = value;
            } else {
                int family = -1;
                const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), family);
                if (ec != std::errc() || end != value.data() + value.size() ||
                    !FamilyAdapterAddress(family)) {
                    options.error = "--family must be 5, 6, 8 or 9, not '" + value + "'";
                    return options;
                }
                options.family = family;
                familyGiven = true;
            }
        } else {
            options.error = "unknown argument '" + arg + "'";
            return options;
        }
    }
    if (options.help || options.version)
        return options;
    if (options.cameraHost.empty() != !familyGiven)
        options.error = "--camera and --family go together";
    else if (options.demo && familyGiven)
        options.error = "--demo and --camera exclude each other";
    return options;
}

std::string UsageText() {
    return "Usage: vindrel [--demo | --camera HOST --family N]\n"
           "\n"
           "Shows, photographs and records the live video of a Wi-Fi camera. Without options it finds\n"
           "the camera from the wireless adapter's address when Start is pressed.\n"
           "\n"
           "  --demo            stream from the built-in camera simulator on 127.0.0.1\n"
           "  --camera HOST     skip discovery and use the camera at this IPv4 address\n"
           "  --family N        the camera's family: 5 (H.264 over TCP), 6 or 8 (JPEG over UDP),\n"
           "                    9 (JPEG over TCP)\n"
           "  -h, --help        show this text\n"
           "  -v, --version     show the version\n"
           "\n"
           "Photos and recordings go to the folder \"media\" under the current directory.\n";
}

LinkConfig FixedCameraConfig(const std::string& host, int family) {
    LinkConfig config;
    const char* adapter = FamilyAdapterAddress(family);
    const std::string adapterAddress = adapter ? adapter : "";
    config.adapters = [adapterAddress]() -> std::optional<std::vector<AdapterInfo>> {
        if (adapterAddress.empty())
            return std::vector<AdapterInfo>{};
        return std::vector<AdapterInfo>{{"camera", true, adapterAddress}};
    };
    config.route = [host](const std::string&) { return host; };
    return config;
}
