// The command line of oskel-update (getopt_long: short options bundle, long ones take
// "--name=value" or "--name value").
#pragma once

#include <string>

#include "platform/linux/hidraw.h"

struct UpdateOptions {
    bool help = false;
    bool version = false;
    bool verbose = false;
    bool wait = false;  // the arrival road
    bool once = false;  // with wait: end after the first download
    bool list = false;  // list the controllers and who may open them
    bool json = false;  // with list: as one JSON document
    bool deviceChosen = false;
    platform::HidDeviceChoice device;  // --device VID:PID or /dev/hidrawN (a file that exists is one)
    std::string capturePath;           // the HID traffic as a USB capture (pcapng), when given
};

// False for bad usage, with the reason in error.
bool ParseUpdateOptions(int argc, char** argv, UpdateOptions& options, std::string& error);

std::string UpdateUsage();
