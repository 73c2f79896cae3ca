#include "camsim/CameraSimulator.h"
#include "camsim/TestPattern.h"
#include "camera/CameraCommand.h"
#include "platform/UniqueFd.h"
#include "support/UdpListener.h"
#include "Decoding.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

void Send(const CameraCommand& command, uint16_t port)
{
    ASSERT_EQ(SendCommand(&command, "127.0.0.1", port), 0);
}

// What the client's greeting puts on the wire, with its pauses.
void Greet(uint16_t port)
{
    for (const CameraCommand* command : {&Greet1, &Greet2, &StreamOn, &StreamOn, &StreamOn, &StreamOn}) {
        Send(*command, port);
        std::this_thread::sleep_for(10ms);
    }
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 3000ms)
{
    const auto until = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() > until)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

int64_t ReadBack(const DecodedPicture& picture)
{
    return camsim::ReadFrameNumber(picture.bgra.data(), picture.width * 4, picture.width, picture.height);
}

// Datagrams that arrive within `quiet` of each other, until none has for that long.
size_t Drain(UdpListener& listener, std::chrono::milliseconds quiet)
{
    size_t count = 0;
    while (listener.Receive(quiet))
        ++count;
    return count;
}

camsim::SimOptions Udp(int family, uint16_t target)
{
    camsim::SimOptions options;
    options.family = family;
    options.width = 320;
    options.height = 240;
    options.fps = 30;
    options.udpTargetPort = target;
    return options;
}

TEST(CameraSimulator, RefusesWhatItCannotSimulate)
{
    struct Case {
        const char* name;
        std::function<void(camsim::SimOptions&)> change;
        const char* message; // part of error()
    };
    UdpListener taken;
    const Case cases[] = {
        {"family 7", [](auto& o) { o.family = 7; }, "family 7"},
        {"odd width", [](auto& o) { o.width = 321; }, "even"},
        {"too small", [](auto& o) { o.height = 100; }, "160x120"},
        {"no frame rate", [](auto& o) { o.fps = 0; }, "frame rate"},
        {"rate above one", [](auto& o) { o.lossRate = 1.5; }, "between 0 and 1"},
        {"command port in use", [&](auto& o) { o.commandPort = taken.port(); }, "command port"},
        // 50 pieces of 1442 bytes cannot hold this picture even at the lowest quality.
        {"family 8 too large", [](auto& o) { o.width = 2560, o.height = 1440; }, "at most 72100 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        camsim::SimOptions options = Udp(8, 9);
        c.change(options);
        camsim::CameraSimulator simulator(options);
        EXPECT_FALSE(simulator.Start());
        EXPECT_NE(simulator.error().find(c.message), std::string::npos) << simulator.error();
    }
    camsim::CameraSimulator simulator(Udp(8, 9));
    ASSERT_TRUE(simulator.Start()) << simulator.error();
    EXPECT_FALSE(simulator.Start());
    EXPECT_EQ(simulator.error(), "already started");
}

// Family 8 picks the highest quality that fits 50 pieces: at least the best quality for a small picture,
// lower for a large one, and every picture it sends fits.
TEST(CameraSimulator, Family8ChoosesAQualityThatFits)
{
    UdpListener listener;
    camsim::SimOptions small = Udp(8, listener.port());
    camsim::CameraSimulator smallCamera(small);
    ASSERT_TRUE(smallCamera.Start()) << smallCamera.error();
    EXPECT_EQ(smallCamera.jpegQuality(), 85);

    camsim::SimOptions large = Udp(8, listener.port());
    large.width = 1280;
    large.height = 720;
    camsim::CameraSimulator largeCamera(large);
    ASSERT_TRUE(largeCamera.Start()) << largeCamera.error();
    EXPECT_LT(largeCamera.jpegQuality(), 85);
    Greet(largeCamera.commandPort());
    for (int i = 0; i < 40; ++i) {
        const auto datagram = listener.Receive(2000ms);
        ASSERT_TRUE(datagram);
        ASSERT_EQ(datagram->bytes.size(), 1450u);
        EXPECT_LE(datagram->bytes[2], 50);
    }
}

// The main path of family 8: nothing before the whole greeting, whole frames with consecutive ids (across
// the wrap at 65535) carrying the matching picture numbers, silence after StreamOff, and StreamOn alone
// resuming a greeted camera.
TEST(CameraSimulator, Family8GreetingStreamAndStreamOff)
{
    UdpListener listener;
    camsim::SimOptions options = Udp(8, listener.port());
    options.startFrameId = 65534;
    options.startFrameNumber = 1000;
    camsim::CameraSimulator simulator(options);
    ASSERT_TRUE(simulator.Start()) << simulator.error();

    // Out of order, then StreamOn alone: neither is the greeting Greet1, Greet2, StreamOn.
    Send(Greet2, simulator.commandPort());
    Send(Greet1, simulator.commandPort());
    Send(StreamOn, simulator.commandPort());
    Send(StreamOn, simulator.commandPort());
    EXPECT_FALSE(listener.Receive(300ms));
    EXPECT_FALSE(simulator.streaming());

    Greet(simulator.commandPort());
    std::map<uint16_t, std::map<int, std::vector<uint8_t>>> frames; // frame id -> piece index -> datagram
    std::vector<uint16_t> complete;
    while (complete.size() < 5) {
        const auto datagram = listener.Receive(2000ms);
        ASSERT_TRUE(datagram) << "stream stalled after " << complete.size() << " frames";
        const std::vector<uint8_t>& d = datagram->bytes;
        ASSERT_EQ(d.size(), 1450u);
        const uint16_t id = static_cast<uint16_t>(d[0] | (d[1] << 8));
        auto& pieces = frames[id];
        pieces[d[3]] = d;
        if (pieces.size() == d[2])
            complete.push_back(id);
    }
    EXPECT_TRUE(simulator.streaming());
    for (size_t k = 0; k < complete.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(complete[k], static_cast<uint16_t>(65534 + k));
        std::vector<uint8_t> jpeg;
        for (const auto& [index, datagram] : frames[complete[k]])
            jpeg.insert(jpeg.end(), datagram.begin() + 8, datagram.end());
        DecodedPicture picture;
        ASSERT_TRUE(DecodeJpeg(jpeg, picture));
        EXPECT_EQ(ReadBack(picture), static_cast<int64_t>(1000 + k));
    }

    Send(StreamOff, simulator.commandPort());
    EXPECT_TRUE(WaitFor([&] { return !simulator.streaming(); }));
    Drain(listener, 100ms);
    EXPECT_FALSE(listener.Receive(300ms)) << "datagrams after StreamOff";
    const uint64_t sent = simulator.framesSent();

    Send(StreamOn, simulator.commandPort());
    EXPECT_TRUE(listener.Receive(1000ms));
    EXPECT_TRUE(simulator.streaming());
    EXPECT_GT(simulator.framesSent(), sent);

    const std::vector<camsim::SeenCommand> seen = simulator.commands();
    ASSERT_EQ(seen.size(), 12u);
    EXPECT_EQ(seen[0].bytes, Greet2);
    EXPECT_EQ(seen[4].bytes, Greet1);
    EXPECT_EQ(seen[9].bytes, StreamOn);
    EXPECT_EQ(seen[10].bytes, StreamOff);
    EXPECT_EQ(seen[11].bytes, StreamOn);
    for (const auto& command : seen)
        EXPECT_EQ(command.size, 7u);
    for (size_t i = 1; i < seen.size(); ++i)
        EXPECT_LE(seen[i - 1].at, seen[i].at);
}

// Family 6 headers in a live stream, through the wrap of the sequence number: one frame number per
// picture, consecutive sequence numbers, the marker on each picture's last datagram, FF D8 first.
TEST(CameraSimulator, Family6StreamAcrossSequenceWrap)
{
    UdpListener listener;
    camsim::SimOptions options = Udp(6, listener.port());
    options.startSequence = 65500;
    options.startFrameNumber = 0xFFFFFFFEu;
    camsim::CameraSimulator simulator(options);
    ASSERT_TRUE(simulator.Start()) << simulator.error();
    Greet(simulator.commandPort());

    uint16_t expectedSequence = 65500;
    uint32_t expectedFrame = 0xFFFFFFFEu;
    std::vector<uint8_t> jpeg;
    int pictures = 0;
    bool wrapped = false;
    while (pictures < 4 || !wrapped) {
        const auto datagram = listener.Receive(2000ms);
        ASSERT_TRUE(datagram);
        const std::vector<uint8_t>& d = datagram->bytes;
        ASSERT_GT(d.size(), 20u);
        ASSERT_LE(d.size(), 1450u);
        const uint16_t sequence = static_cast<uint16_t>((d[2] << 8) | d[3]);
        const uint32_t frame = (uint32_t{d[4]} << 24) | (d[5] << 16) | (d[6] << 8) | d[7];
        ASSERT_EQ(sequence, expectedSequence);
        ASSERT_EQ(frame, expectedFrame);
        wrapped = wrapped || sequence == 0;
        ++expectedSequence;
        if (jpeg.empty()) {
            EXPECT_EQ(d[20], 0xFF);
            EXPECT_EQ(d[21], 0xD8);
        }
        jpeg.insert(jpeg.end(), d.begin() + 20, d.end());
        if (d[1] & 0x80) {
            DecodedPicture picture;
            ASSERT_TRUE(DecodeJpeg(jpeg, picture));
            EXPECT_EQ(ReadBack(picture), frame & 0xFFFFFF);
            jpeg.clear();
            ++expectedFrame;
            ++pictures;
        }
    }
}

// UDP families need keep-alives: without StreamOn the stream stops after the time-out, and a StreamOn
// brings it back.
TEST(CameraSimulator, UdpStreamEndsWithoutKeepAlive)
{
    UdpListener listener;
    camsim::SimOptions options = Udp(8, listener.port());
    options.keepAliveTimeoutMs = 600;
    camsim::CameraSimulator simulator(options);
    ASSERT_TRUE(simulator.Start()) << simulator.error();
    Greet(simulator.commandPort());
    const auto greeted = Clock::now();
    ASSERT_TRUE(WaitFor([&] { return simulator.streaming(); }));
    // Keep it alive well past one time-out, then let it lapse.
    for (int i = 0; i < 8; ++i) {
        std::this_thread::sleep_for(100ms);
        Send(StreamOn, simulator.commandPort());
    }
    EXPECT_TRUE(simulator.streaming());
    const auto lastKeepAlive = Clock::now();
    ASSERT_TRUE(WaitFor([&] { return !simulator.streaming(); }));
    EXPECT_GE(Clock::now() - lastKeepAlive, 500ms);
    EXPECT_GE(Clock::now() - greeted, 1300ms);
    Drain(listener, 100ms);
    EXPECT_FALSE(listener.Receive(200ms));
    Send(StreamOn, simulator.commandPort());
    EXPECT_TRUE(listener.Receive(1000ms));
}

UniqueFd Connect(uint16_t port)
{
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        fd.reset();
    return fd;
}

// Reads until `enough` says so or nothing comes for a second.
void ReadStream(int fd, std::vector<uint8_t>& bytes, const std::function<bool()>& enough)
{
    std::array<uint8_t, 65536> buffer;
    while (!enough()) {
        pollfd waiter{fd, POLLIN, 0};
        if (::poll(&waiter, 1, 1000) <= 0)
            return;
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n <= 0)
            return;
        bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + n);
    }
}

// The JPEGs in a family-9 stream, cut at FF D8 ... FF D9, and the bytes found between them.
void CutJpegs(const std::vector<uint8_t>& stream, std::vector<std::vector<uint8_t>>& jpegs,
              std::vector<std::vector<uint8_t>>& between)
{
    size_t position = 0;
    for (;;) {
        size_t start = position;
        while (start + 1 < stream.size() && !(stream[start] == 0xFF && stream[start + 1] == 0xD8))
            ++start;
        size_t end = start + 2;
        while (end + 1 < stream.size() && !(stream[end] == 0xFF && stream[end + 1] == 0xD9))
            ++end;
        if (end + 1 >= stream.size())
            return;
        between.emplace_back(stream.begin() + static_cast<ptrdiff_t>(position),
                             stream.begin() + static_cast<ptrdiff_t>(start));
        jpegs.emplace_back(stream.begin() + static_cast<ptrdiff_t>(start),
                           stream.begin() + static_cast<ptrdiff_t>(end + 2));
        position = end + 2;
    }
}

// Family 9: the client connects first and greets second; JPEGs follow back to back (with text between
// them on request); closing the connection stops the stream, and a new connection can start it again.
TEST(CameraSimulator, Family9OverTcp)
{
    camsim::SimOptions options = Udp(9, 0);
    options.junkBetweenJpegs = true;
    options.startFrameNumber = 77;
    camsim::CameraSimulator simulator(options);
    ASSERT_TRUE(simulator.Start()) << simulator.error();
    ASSERT_NE(simulator.tcpPort(), 0);

    for (int session = 0; session < 2; ++session) {
        SCOPED_TRACE(session);
        UniqueFd client = Connect(simulator.tcpPort());
        ASSERT_TRUE(client.valid());
        std::this_thread::sleep_for(100ms);
        EXPECT_FALSE(simulator.streaming()) << "streams before the greeting";
        Greet(simulator.commandPort());
        std::vector<uint8_t> stream;
        std::vector<std::vector<uint8_t>> jpegs, between;
        ReadStream(client.get(), stream, [&] {
            jpegs.clear();
            between.clear();
            CutJpegs(stream, jpegs, between);
            return jpegs.size() >= 4;
        });
        ASSERT_GE(jpegs.size(), 4u);
        int64_t previous = -1;
        for (size_t k = 0; k < jpegs.size(); ++k) {
            DecodedPicture picture;
            ASSERT_TRUE(DecodeJpeg(jpegs[k], picture));
            const int64_t number = ReadBack(picture);
            if (session == 0 && k == 0) {
                EXPECT_EQ(number, 77);
            }
            if (previous >= 0) {
                EXPECT_EQ(number, previous + 1);
            }
            previous = number;
            EXPECT_FALSE(between[k].empty()) << "no junk before picture " << k;
            EXPECT_EQ(std::count(between[k].begin(), between[k].end(), 0xFF), 0);
        }
        client.reset();
        EXPECT_TRUE(WaitFor([&] { return !simulator.streaming(); }));
    }
}

// Family 5: an H.264 stream that libavcodec decodes from its first byte, pictures in order; StreamOff
// stops it while the connection stays open.
TEST(CameraSimulator, Family5OverTcp)
{
    camsim::SimOptions options = Udp(5, 0);
    options.startFrameNumber = 12345;
    camsim::CameraSimulator simulator(options);
    ASSERT_TRUE(simulator.Start()) << simulator.error();
    UniqueFd client = Connect(simulator.tcpPort());
    ASSERT_TRUE(client.valid());
    Greet(simulator.commandPort());

    H264TestDecoder decoder;
    ASSERT_TRUE(decoder.ok());
    std::vector<DecodedPicture> pictures;
    std::vector<uint8_t> stream;
    ReadStream(client.get(), stream, [&] {
        decoder.Feed(stream.data(), stream.size(), pictures);
        stream.clear();
        return pictures.size() >= 10;
    });
    ASSERT_GE(pictures.size(), 10u);
    for (size_t k = 0; k < pictures.size(); ++k)
        EXPECT_EQ(ReadBack(pictures[k]), static_cast<int64_t>(12345 + k));

    Send(StreamOff, simulator.commandPort());
    ASSERT_TRUE(WaitFor([&] { return !simulator.streaming(); }));
    const uint64_t sent = simulator.framesSent();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(simulator.framesSent(), sent);
}

// The impairment options reach the wire: with every datagram lost, pictures are made and none arrives.
TEST(CameraSimulator, LossAppliesToTheStream)
{
    UdpListener listener;
    camsim::SimOptions options = Udp(8, listener.port());
    options.lossRate = 1;
    camsim::CameraSimulator simulator(options);
    ASSERT_TRUE(simulator.Start()) << simulator.error();
    Greet(simulator.commandPort());
    EXPECT_TRUE(WaitFor([&] { return simulator.framesSent() >= 5; }));
    EXPECT_FALSE(listener.Receive(100ms));
}

// Any datagram on the command port is recorded, with its real length; unknown ones change nothing.
TEST(CameraSimulator, RecordsEveryCommandDatagram)
{
    camsim::CameraSimulator simulator(Udp(8, 9));
    ASSERT_TRUE(simulator.Start()) << simulator.error();
    UniqueFd sender(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(simulator.commandPort());
    const uint8_t odd[3] = {1, 2, 3};
    ::sendto(sender.get(), odd, sizeof odd, 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::sendto(sender.get(), odd, 0, 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
    Send(StreamOff, simulator.commandPort());
    ASSERT_TRUE(WaitFor([&] { return simulator.commands().size() == 3; }));
    const auto seen = simulator.commands();
    EXPECT_EQ(seen[0].size, 3u);
    EXPECT_EQ(seen[0].bytes, (std::array<uint8_t, 7>{1, 2, 3, 0, 0, 0, 0}));
    EXPECT_EQ(seen[1].size, 0u);
    EXPECT_EQ(seen[2].bytes, StreamOff);
    EXPECT_FALSE(simulator.streaming());
    simulator.Stop();
    simulator.Stop(); // twice is harmless
    ASSERT_TRUE(simulator.Start()) << simulator.error();
}

} // namespace
