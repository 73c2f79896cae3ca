#include "camera/CVideoClient.h"
#include "camsim/CameraSimulator.h"
#include "support/FrameCollector.h"
#include "support/FreePort.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

const char* AdapterFor(int family)
{
    switch (family) {
    case 5:
        return "192.168.27.40";
    case 6:
        return "192.168.28.40";
    case 8:
        return "192.168.29.40";
    default:
        return "192.168.31.40";
    }
}

struct Link {
    explicit Link(camsim::SimOptions options)
    {
        udpPort = FreePort(SOCK_DGRAM);
        options.udpTargetPort = udpPort;
        simulator = std::make_unique<camsim::CameraSimulator>(options);
        EXPECT_TRUE(simulator->Start()) << simulator->error();
        client = std::make_unique<CVideoClient>(LinkConfig::Loopback(
            AdapterFor(options.family), simulator->commandPort(), simulator->tcpPort(), udpPort));
        collector.Attach(*client);
    }

    uint16_t udpPort = 0;
    std::unique_ptr<camsim::CameraSimulator> simulator;
    std::unique_ptr<CVideoClient> client;
    FrameCollector collector;
};

long Count(const std::vector<camsim::SeenCommand>& commands, const CameraCommand& which)
{
    return std::count_if(commands.begin(), commands.end(), [&](const auto& c) { return c.bytes == which; });
}

} // namespace

// Frames reach the callback whole and in order, and the camera hears exactly what it should.
TEST(EndToEnd, EachFamilyStreamsInOrder)
{
    for (int family : {5, 6, 8, 9}) {
        SCOPED_TRACE(family);
        camsim::SimOptions options;
        options.family = family;
        options.width = 320;
        options.height = 240;
        options.fps = 30;
        options.startFrameNumber = 1000;
        Link link(options);
        ASSERT_EQ(link.client->Start(), 1);
        EXPECT_TRUE(link.collector.WaitFor(20, 5000ms));
        link.client->Stop();
        EXPECT_EQ(link.client->sock, -1);
        EXPECT_EQ(link.client->receiveThreadId, kNoThread);

        const auto seen = link.collector.seen();
        ASSERT_GE(seen.size(), 20u);
        for (size_t i = 0; i < seen.size(); ++i) {
            EXPECT_EQ(seen[i].width, 320);
            EXPECT_GE(seen[i].frameNumber, 1000) << i;
            if (i > 0) {
                EXPECT_GT(seen[i].frameNumber, seen[i - 1].frameNumber) << i;
            }
        }

        std::this_thread::sleep_for(100ms);
        const auto commands = link.simulator->commands();
        ASSERT_GE(commands.size(), 6u);
        EXPECT_EQ(commands[0].bytes, Greet1);
        EXPECT_EQ(commands[1].bytes, Greet2);
        for (int i = 2; i < 6; ++i)
            EXPECT_EQ(commands[static_cast<size_t>(i)].bytes, StreamOn);
        EXPECT_EQ(Count(commands, StreamOff), family == 5 ? 1 : 2);
    }
}

// Under loss, duplication and reordering, and across the wrap of family-6 sequence numbers and family-8
// frame ids, whatever is delivered is a whole frame, in order.
TEST(EndToEnd, HostileUdpDeliversOnlyWholeFrames)
{
    struct Case {
        const char* name;
        int family;
        double impairmentRate; // loss, duplication and reordering each
        uint16_t start;        // first sequence number and frame id
        size_t minFrames;
    };
    const Case cases[] = {
        {"lossy family 6", 6, 0.05, 0, 5},
        {"lossy family 8", 8, 0.05, 1, 5},
        {"wrapping family 6", 6, 0, 65530, 20},
        {"wrapping family 8", 8, 0, 65530, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        camsim::SimOptions options;
        options.family = c.family;
        options.width = 320;
        options.height = 240;
        options.fps = 30;
        options.lossRate = options.duplicateRate = options.reorderRate = c.impairmentRate;
        options.startSequence = c.start;
        options.startFrameId = c.start;
        options.seed = 7;
        Link link(options);
        ASSERT_EQ(link.client->Start(), 1);
        link.collector.WaitFor(c.minFrames * 3, 5000ms);
        link.client->Stop();
        const auto seen = link.collector.seen();
        EXPECT_GE(seen.size(), c.minFrames);
        for (size_t i = 0; i < seen.size(); ++i) {
            EXPECT_GE(seen[i].frameNumber, 0) << "a corrupted picture reached the screen";
            if (i > 0) {
                EXPECT_GT(seen[i].frameNumber, seen[i - 1].frameNumber) << i;
            }
        }
    }
}
