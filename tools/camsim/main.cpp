// vindrel-camsim: a simulated Wi-Fi camera on 127.0.0.1, for trying the viewer without hardware.

#include "camsim/CameraSimulator.h"

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>

namespace {

constexpr const char* kUsage = R"(usage: vindrel-camsim [options]

A simulated camera on 127.0.0.1. It reads commands on a UDP port, streams its family's format once greeted
(Greet1, Greet2, StreamOn), keeps UDP streams going while StreamOn keep-alives arrive and stops on StreamOff.

  --family N              5 (H.264 over TCP), 6 (numbered UDP packets), 8 (UDP pieces), 9 (JPEG over TCP); 8
  --size WxH              picture size, even, at least 160x120; 640x480
  --fps F                 pictures per second; 25
  --loss R                chance of losing a datagram (TCP: a picture), 0..1; 0
  --duplicate R           chance of sending one twice; 0
  --reorder R             chance of holding one back behind the next; 0
  --truncate R            chance of cutting one short; 0
  --garbage R             chance of a random datagram (TCP: random bytes inside a picture); 0
  --junk                  family 9: text between the JPEGs
  --start-frame-id N      family 8: first frame id; 1
  --start-sequence N      family 6: first sequence number; 0
  --start-frame-number N  number drawn into the first picture (family 6: first frame number); 0
  --seed N                seed of the impairments; 1
  --command-port N        UDP command port; 20000 (0 picks a free one)
  --tcp-port N            families 5 and 9: TCP port; 8080 (0 picks a free one)
  --udp-port N            families 6 and 8: port the datagrams go to; 10900
  --keepalive-ms N        UDP families stop without StreamOn for this long; 6000
  --seconds N             run for N seconds (default: until Ctrl-C)
  --help                  this text
)";

template <typename T> bool ParseNumber(std::string_view text, T& value)
{
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

bool ParseRate(const std::string& text, double& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return errno == 0 && end != text.c_str() && *end == '\0';
}

bool ParseSize(std::string_view text, int& width, int& height)
{
    const size_t x = text.find('x');
    return x != std::string_view::npos && ParseNumber(text.substr(0, x), width) &&
           ParseNumber(text.substr(x + 1), height);
}

const char* CommandName(const camsim::SeenCommand& command)
{
    static constexpr uint8_t kMark[5] = {0x4A, 0x48, 0x43, 0x4D, 0x44};
    if (command.size != 7 || std::memcmp(command.bytes.data(), kMark, sizeof kMark) != 0)
        return "unknown datagram";
    switch ((command.bytes[5] << 8) | command.bytes[6]) {
    case 0x1000:
        return "Greet1";
    case 0x2000:
        return "Greet2";
    case 0xD001:
        return "StreamOn";
    case 0xD002:
        return "StreamOff";
    default:
        return "unknown command";
    }
}

struct Arguments {
    camsim::SimOptions options;
    double seconds = 0;
    bool help = false;
};

// false after printing what is wrong.
bool ParseArguments(int argc, char** argv, Arguments& out)
{
    camsim::SimOptions& o = out.options;
    o.commandPort = 20000;
    o.tcpPort = 8080;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--help") {
            out.help = true;
            return true;
        }
        if (name == "--junk") {
            o.junkBetweenJpegs = true;
            continue;
        }
        static constexpr std::string_view kValued[] = {"--family",
                                                       "--size",
                                                       "--fps",
                                                       "--loss",
                                                       "--duplicate",
                                                       "--reorder",
                                                       "--truncate",
                                                       "--garbage",
                                                       "--start-frame-id",
                                                       "--start-sequence",
                                                       "--start-frame-number",
                                                       "--seed",
                                                       "--command-port",
                                                       "--tcp-port",
                                                       "--udp-port",
                                                       "--keepalive-ms",
                                                       "--seconds"};
        if (std::find(std::begin(kValued), std::end(kValued), name) == std::end(kValued)) {
            std::fprintf(stderr, "vindrel-camsim: unknown option %s (see --help)\n", name.c_str());
            return false;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "vindrel-camsim: %s needs a value (see --help)\n", name.c_str());
            return false;
        }
        const std::string value = argv[++i];
        bool ok = true;
        if (name == "--family")
            ok = ParseNumber(value, o.family);
        else if (name == "--size")
            ok = ParseSize(value, o.width, o.height);
        else if (name == "--fps")
            ok = ParseRate(value, o.fps);
        else if (name == "--loss")
            ok = ParseRate(value, o.lossRate);
        else if (name == "--duplicate")
            ok = ParseRate(value, o.duplicateRate);
        else if (name == "--reorder")
            ok = ParseRate(value, o.reorderRate);
        else if (name == "--truncate")
            ok = ParseRate(value, o.truncateRate);
        else if (name == "--garbage")
            ok = ParseRate(value, o.garbageRate);
        else if (name == "--start-frame-id")
            ok = ParseNumber(value, o.startFrameId);
        else if (name == "--start-sequence")
            ok = ParseNumber(value, o.startSequence);
        else if (name == "--start-frame-number")
            ok = ParseNumber(value, o.startFrameNumber);
        else if (name == "--seed")
            ok = ParseNumber(value, o.seed);
        else if (name == "--command-port")
            ok = ParseNumber(value, o.commandPort);
        else if (name == "--tcp-port")
            ok = ParseNumber(value, o.tcpPort);
        else if (name == "--udp-port")
            ok = ParseNumber(value, o.udpTargetPort);
        else if (name == "--keepalive-ms")
            ok = ParseNumber(value, o.keepAliveTimeoutMs);
        else if (name == "--seconds")
            ok = ParseRate(value, out.seconds) && out.seconds >= 0;
        if (!ok) {
            std::fprintf(stderr, "vindrel-camsim: bad value '%s' for %s\n", value.c_str(), name.c_str());
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    Arguments arguments;
    if (!ParseArguments(argc, argv, arguments))
        return 2;
    if (arguments.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    // Signals are taken by sigtimedwait below; blocking them first keeps the simulator's thread out of it.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    const camsim::SimOptions& o = arguments.options;
    camsim::CameraSimulator simulator(o);
    if (!simulator.Start()) {
        std::fprintf(stderr, "vindrel-camsim: %s\n", simulator.error().c_str());
        return 1;
    }
    std::printf("family %d, %dx%d at %g pictures a second; commands on udp 127.0.0.1:%u\n", o.family, o.width,
                o.height, o.fps, simulator.commandPort());
    if (o.family == 5 || o.family == 9)
        std::printf("stream on tcp 127.0.0.1:%u\n", simulator.tcpPort());
    else
        std::printf("stream to udp 127.0.0.1:%u\n", o.udpTargetPort);
    if (simulator.jpegQuality() > 0)
        std::printf("JPEG quality %d\n", simulator.jpegQuality());
    std::fflush(stdout);

    const timespec tick{0, 200'000'000};
    size_t commandsShown = 0;
    bool wasStreaming = false;
    uint64_t framesAtLastReport = 0;
    int ticks = 0;
    for (;;) {
        const int signal = sigtimedwait(&signals, nullptr, &tick);
        if (signal == SIGINT || signal == SIGTERM)
            break;
        ++ticks;
        const std::vector<camsim::SeenCommand> commands = simulator.commands();
        for (; commandsShown < commands.size(); ++commandsShown)
            std::printf("command: %s\n", CommandName(commands[commandsShown]));
        if (simulator.streaming() != wasStreaming) {
            wasStreaming = simulator.streaming();
            std::printf(wasStreaming ? "streaming\n" : "stopped streaming\n");
        }
        if (ticks % 5 == 0 && wasStreaming) {
            const uint64_t frames = simulator.framesSent();
            std::printf("%llu pictures sent (%llu in the last second)\n",
                        static_cast<unsigned long long>(frames),
                        static_cast<unsigned long long>(frames - framesAtLastReport));
            framesAtLastReport = frames;
        }
        std::fflush(stdout);
        if (arguments.seconds > 0 && ticks * 0.2 >= arguments.seconds)
            break;
    }
    simulator.Stop();
    std::printf("stopped after %llu pictures\n", static_cast<unsigned long long>(simulator.framesSent()));
    return 0;
}
