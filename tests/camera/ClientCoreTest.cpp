#include "camera/CVideoClient.h"
#include "platform/DebugPrint.h"

#include <gtest/gtest.h>

#include <string>

TEST(ClientCore, FreshClientFields)
{
    CVideoClient client;
    EXPECT_EQ(client.callbackUser, nullptr);
    EXPECT_EQ(client.frameCallback, nullptr);
    EXPECT_TRUE(client.cameraAddress.empty());
    EXPECT_EQ(client.bitmap, nullptr);
    EXPECT_EQ(client.sock, -1);
    EXPECT_EQ(client.family, -1);
    EXPECT_EQ(client.receiveThreadId, 1444u);
    EXPECT_EQ(client.recordThreadId, 1444u);
    EXPECT_EQ(client.running, 0);
    EXPECT_TRUE(client.recordQueue.empty());
    EXPECT_EQ(client.decodedFrame, nullptr);
    EXPECT_EQ(client.recordFrame, nullptr);
    EXPECT_EQ(client.codec, nullptr);
    EXPECT_EQ(client.codecContext, nullptr);
    EXPECT_EQ(client.workFrame, nullptr);
    EXPECT_EQ(client.workPixelFormat, 0);
    EXPECT_EQ(client.recordWidth, 640);
    EXPECT_EQ(client.recordHeight, 480);
    EXPECT_FALSE(client.recording);
    EXPECT_EQ(client.recordFps, 20);
    EXPECT_TRUE(client.recordPath.empty());
    EXPECT_TRUE(client.recordTempPath.empty());
    EXPECT_EQ(client.parser, nullptr);
    EXPECT_EQ(client.zoom, 1.0f);
    EXPECT_EQ(client.config().commandPort, 20000);
    EXPECT_EQ(client.config().tcpStreamPort, 8080);
    EXPECT_EQ(client.config().udpStreamPort, 10900);
    EXPECT_EQ(client.config().Dial("192.168.29.1"), "192.168.29.1");
}

TEST(ClientCore, DebugPrintCutsAt4095Characters)
{
    const std::string longText(5000, 'x');
    testing::internal::CaptureStderr();
    DebugPrint("%s", longText.c_str());
    DebugPrint("naStop");
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(printed, std::string(4095, 'x') + "\nnaStop\n");
}
