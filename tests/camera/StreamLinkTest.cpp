#include "camera/CVideoClient.h"
#include "support/FreePort.h"
#include "support/UdpListener.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <filesystem>
#include <thread>

using namespace std::chrono_literals;

namespace {

std::vector<uint8_t> Bytes(const CameraCommand& command) { return {command.begin(), command.end()}; }

// Everything the "camera" got on its command port until it stays quiet for quietFor.
std::vector<std::vector<uint8_t>> Drain(UdpListener& camera, std::chrono::milliseconds quietFor = 100ms)
{
    std::vector<std::vector<uint8_t>> seen;
    while (auto datagram = camera.Receive(quietFor))
        seen.push_back(datagram->bytes);
    return seen;
}

size_t CountEntries(const char* directory)
{
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory))
        ++count;
    return count;
}

} // namespace

TEST(StreamLink, NoCameraAndUnstreamedFamilies)
{
    struct Case {
        const char* adapterAddress;
        CameraFamily family;
    };
    for (const Case& c : {Case{"10.0.0.5", -1}, Case{"192.168.30.9", 7}, Case{"192.168.234.2", 0}}) {
        UdpListener camera;
        CVideoClient client(LinkConfig::Loopback(c.adapterAddress, camera.port(), FreePort(SOCK_STREAM),
                                                 FreePort(SOCK_DGRAM)));
        EXPECT_EQ(client.Start(), 0) << c.adapterAddress;
        EXPECT_EQ(client.family, c.family);
        EXPECT_EQ(client.codecContext, nullptr) << "no decoder for a family that does not stream";
        EXPECT_EQ(client.sock, -1);
        EXPECT_EQ(client.running, 0);
        client.Stop();
        EXPECT_TRUE(Drain(camera, 50ms).empty()) << "nothing is sent without a streaming camera";
    }
}

// A port nobody listens on refuses every attempt: six tries, then the socket is closed and a later Start
// may try again.
TEST(StreamLink, TcpCameraThatNeverAnswersGivesUp)
{
    for (const char* adapter : {"192.168.27.3", "192.168.31.3"}) {
        UdpListener camera;
        CVideoClient client(LinkConfig::Loopback(adapter, camera.port(), FreePort(SOCK_STREAM), 1));
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(client.Start(), 0) << adapter;
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_GE(took, 6 * 140ms) << "six attempts, each followed by its pause";
        EXPECT_EQ(client.sock, -1);
        EXPECT_EQ(client.receiveThreadId, kNoThread);
        EXPECT_EQ(client.running, 0);
        EXPECT_TRUE(Drain(camera, 50ms).empty()) << "no greeting without a connection";
        client.Stop();
    }
}

TEST(StreamLink, TcpCameraThatStartsListeningDuringTheAttempts)
{
    struct Case {
        const char* adapter;
        long streamOffs; // family 5: from the ending thread only; family 9: from the thread and from Stop
    };
    for (const auto& [adapter, streamOffs] : {Case{"192.168.27.3", 1}, Case{"192.168.31.3", 2}}) {
        UdpListener camera;
        const uint16_t port = FreePort(SOCK_STREAM);
        UniqueFd server;
        std::thread lateCamera([&] {
            std::this_thread::sleep_for(400ms);
            server.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
            const int reuse = 1;
            setsockopt(server.get(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            address.sin_port = htons(port);
            ASSERT_EQ(::bind(server.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
            ::listen(server.get(), 4);
        });
        CVideoClient client(LinkConfig::Loopback(adapter, camera.port(), port, 1));
        EXPECT_EQ(client.Start(), 1) << adapter;
        lateCamera.join();
        EXPECT_NE(client.sock, -1);
        EXPECT_EQ(client.running, 1);
        EXPECT_EQ(client.Start(), 0) << "Start while running is refused";
        client.Stop();
        EXPECT_EQ(client.sock, -1);
        EXPECT_EQ(client.receiveThreadId, kNoThread);
        const auto seen = Drain(camera);
        ASSERT_GE(seen.size(), 7u);
        EXPECT_EQ(seen[0], Bytes(Greet1));
        EXPECT_EQ(seen[1], Bytes(Greet2));
        EXPECT_EQ(std::count(seen.begin(), seen.end(), Bytes(StreamOff)), streamOffs) << adapter;
    }
}

TEST(StreamLink, TakenUdpPortRefusesWithoutGreeting)
{
    UdpListener camera;
    UdpListener squatter; // bound without address reuse, so the client cannot share the port
    CVideoClient client(LinkConfig::Loopback("192.168.29.100", camera.port(), 1, squatter.port()));
    EXPECT_EQ(client.Start(), 0);
    EXPECT_EQ(client.sock, -1);
    EXPECT_EQ(client.running, 0);
    EXPECT_TRUE(Drain(camera, 200ms).empty());
}

// A silent camera still gets its keep-alive about every 2 s, never two within 2 s, and StreamOff twice.
TEST(StreamLink, UdpKeepAliveAndStop)
{
    UdpListener camera;
    CVideoClient client(LinkConfig::Loopback("192.168.29.100", camera.port(), 1, FreePort(SOCK_DGRAM)));
    ASSERT_EQ(client.Start(), 1);
    std::vector<UdpListener::Datagram> seen;
    const auto until = std::chrono::steady_clock::now() + 5500ms;
    while (std::chrono::steady_clock::now() < until) {
        if (auto datagram = camera.Receive(100ms))
            seen.push_back(std::move(*datagram));
    }
    const auto stopStarted = std::chrono::steady_clock::now();
    client.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - stopStarted, 1000ms);
    while (auto datagram = camera.Receive(200ms))
        seen.push_back(std::move(*datagram));

    ASSERT_GE(seen.size(), 6u);
    std::vector<std::chrono::steady_clock::time_point> keepAlives;
    for (size_t i = 6; i < seen.size(); ++i) {
        if (seen[i].bytes == Bytes(StreamOn))
            keepAlives.push_back(seen[i].at);
    }
    ASSERT_EQ(keepAlives.size(), 2u) << "about one every 2 s in 5.5 s";
    EXPECT_GE(keepAlives[0] - seen[5].at, 1800ms);
    EXPECT_GE(keepAlives[1] - keepAlives[0], 1990ms);
    EXPECT_LT(keepAlives[1] - keepAlives[0], 2500ms);
    EXPECT_EQ(std::count_if(seen.begin(), seen.end(), [](const auto& d) { return d.bytes == Bytes(StreamOff); }), 2);
    EXPECT_EQ(client.sock, -1);
    EXPECT_EQ(client.receiveThreadId, kNoThread);
}

// Catches a leaked socket or a thread that is never joined.
TEST(StreamLink, HundredStartStopCyclesLeaveNothingBehind)
{
    UdpListener camera;
    CVideoClient client(LinkConfig::Loopback("192.168.29.100", camera.port(), 1, FreePort(SOCK_DGRAM)));
    // One cycle first: runtimes (a sanitizer's background thread, say) may start a thread of their own
    // the first time a thread is made.
    ASSERT_EQ(client.Start(), 1);
    client.Stop();
    const size_t fdsBefore = CountEntries("/proc/self/fd");
    const size_t threadsBefore = CountEntries("/proc/self/task");
    for (int cycle = 0; cycle < 100; ++cycle) {
        ASSERT_EQ(client.Start(), 1) << cycle;
        client.Stop();
        ASSERT_EQ(client.sock, -1);
        ASSERT_EQ(client.receiveThreadId, kNoThread);
    }
    EXPECT_EQ(CountEntries("/proc/self/fd"), fdsBefore);
    EXPECT_EQ(CountEntries("/proc/self/task"), threadsBefore);
    EXPECT_NE(client.codecContext, nullptr) << "the decoder of the first Start survives";
}
