#pragma once

#include "AppTestSupport.h"
#include "camsim/CameraSimulator.h"
#include "support/FreePort.h"

#include <QTest>

#include <memory>

namespace apptest {

// Starts the simulator as a family-8 camera (640x480, 25 pictures a second) and opens a window whose client
// finds it through the real discovery and presses Start.
inline std::unique_ptr<CVindrelDlg> OpenStreamingWindow(std::unique_ptr<camsim::CameraSimulator>& camera) {
    const uint16_t udpPort = FreePort(SOCK_DGRAM);
    camsim::SimOptions options;
    options.family = 8;
    options.udpTargetPort = udpPort;
    camera = std::make_unique<camsim::CameraSimulator>(options);
    if (!camera->Start())
        qFatal("simulator: %s", camera->error().c_str());
    CVindrelDlg::Options window;
    window.link = LinkConfig::Loopback("192.168.29.100", camera->commandPort(), camera->tcpPort(), udpPort);
    auto dialog = std::make_unique<CVindrelDlg>(std::move(window));
    dialog->show();
    QTest::mouseClick(Button(*dialog, ControlId::Start), Qt::LeftButton);
    return dialog;
}

} // namespace apptest
