#include "camera/CVideoClient.h"
#include "support/UdpListener.h"

#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;

TEST(Command, SendCommandRefusesBadInput)
{
    UdpListener listener;
    EXPECT_EQ(SendCommand(nullptr, "127.0.0.1", listener.port()), -1);
    EXPECT_EQ(SendCommand(&StreamOn, "not an address", listener.port()), -1);
    EXPECT_EQ(SendCommand(&StreamOn, "127.0.0.300", listener.port()), -1);
    EXPECT_EQ(SendCommand(&StreamOn, nullptr, listener.port()), -1);
    EXPECT_FALSE(listener.Receive(50ms).has_value());
}

TEST(Command, EachCommandIsSevenBytesOnTheWire)
{
    UdpListener listener;
    for (const CameraCommand* command : {&Greet1, &Greet2, &StreamOn, &StreamOff}) {
        ASSERT_EQ(SendCommand(command, "127.0.0.1", listener.port()), 0);
        const auto datagram = listener.Receive(1000ms);
        ASSERT_TRUE(datagram.has_value());
        EXPECT_EQ(datagram->bytes, std::vector<uint8_t>(command->begin(), command->end()));
    }
    const std::vector<uint8_t> off = {0x4A, 0x48, 0x43, 0x4D, 0x44, 0xD0, 0x02};
    EXPECT_EQ(std::vector<uint8_t>(StreamOff.begin(), StreamOff.end()), off);
}

// The greeting goes through the route to the configured command port, in order, with its pauses.
TEST(Command, GreetingOrderAndPauses)
{
    UdpListener listener;
    CVideoClient client(LinkConfig::Loopback("192.168.27.15", listener.port(), 1, 1));
    client.cameraAddress = client.FindCamera();
    ASSERT_EQ(client.cameraAddress, "192.168.27.1");

    // Receive while the greeting runs, so that arrival times show the pauses between sends.
    std::vector<UdpListener::Datagram> seen;
    std::thread receiver([&] {
        for (int i = 0; i < 6; ++i) {
            if (auto datagram = listener.Receive(2000ms))
                seen.push_back(std::move(*datagram));
        }
    });
    const auto started = std::chrono::steady_clock::now();
    client.GreetCamera();
    const auto finished = std::chrono::steady_clock::now();
    receiver.join();

    const CameraCommand* expected[] = {&Greet1, &Greet2, &StreamOn, &StreamOn, &StreamOn, &StreamOn};
    ASSERT_EQ(seen.size(), 6u);
    for (size_t i = 0; i < seen.size(); ++i)
        EXPECT_EQ(seen[i].bytes, std::vector<uint8_t>(expected[i]->begin(), expected[i]->end())) << i;
    EXPECT_FALSE(listener.Receive(50ms).has_value());

    // 150 ms of pauses in all, 50 ms of them between the first send and the last. Arrival times are only a
    // loose witness (a busy receiver may take two datagrams at once), so only the spans are checked.
    EXPECT_GE(finished - started, 150ms);
    EXPECT_LT(finished - started, 2000ms);
    EXPECT_GE(seen.back().at - seen.front().at, 35ms);
}
