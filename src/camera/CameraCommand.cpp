#include "camera/CameraCommand.h"

#include "camera/CVideoClient.h"
#include "platform/Sockets.h"
#include "platform/UniqueFd.h"

#include <sys/socket.h>

#include <chrono>
#include <thread>

int SendCommand(const CameraCommand* command, const char* address, uint16_t port)
{
    if (command == nullptr || address == nullptr)
        return -1;
    const auto destination = Ipv4Address(address, port);
    if (!destination)
        return -1;
    UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socket.valid())
        return -1;
    const ssize_t sent = ::sendto(socket.get(), command->data(), command->size(), 0,
                                  reinterpret_cast<const sockaddr*>(&*destination), sizeof *destination);
    return sent == static_cast<ssize_t>(command->size()) ? 0 : -1;
}

int CVideoClient::SendToCamera(const CameraCommand& command) const
{
    const std::string address = config_.Dial(cameraAddress);
    return SendCommand(&command, address.c_str(), config_.commandPort);
}

void CVideoClient::GreetCamera()
{
    using namespace std::chrono_literals;
    struct Step {
        const CameraCommand& command;
        std::chrono::milliseconds pause;
    };
    const Step steps[] = {{Greet1, 10ms}, {Greet2, 10ms}, {StreamOn, 10ms},
                          {StreamOn, 10ms}, {StreamOn, 10ms}, {StreamOn, 100ms}};
    for (const Step& step : steps) {
        SendToCamera(step.command);
        std::this_thread::sleep_for(step.pause);
    }
}
