#pragma once

#include "camera/LinkConfig.h"

#include <string>
#include <vector>

// What the command line asks for. Without arguments the program runs as it always did.
struct AppOptions {
    bool help = false;
    bool version = false;
    // Stream from the built-in camera simulator on loopback.
    bool demo = false;
    // --camera HOST --family N: skip discovery, talk to HOST as a camera of family N.
    std::string cameraHost;
    int family = -1;
    // Empty when the command line is valid.
    std::string error;
};

// args are the arguments after the program name.
AppOptions ParseCommandLine(const std::vector<std::string>& args);

std::string UsageText();

// A link that finds a camera of the given family and dials host for its commands and its stream.
// Discovery still runs its table, on one wireless adapter in the family's subnet.
LinkConfig FixedCameraConfig(const std::string& host, int family);
