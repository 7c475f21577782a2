// The command line of oskel-update.
#pragma once

#include <string>

struct UpdateOptions {
    bool help = false;
    bool version = false;
    bool verbose = false;
    bool wait = false;  // the arrival road
    bool once = false;  // with wait: end after the first download
    std::string capturePath;  // the HID traffic as a USB capture (pcapng), when given
};

// False for bad usage, with the reason in error.
bool ParseUpdateOptions(int argc, char** argv, UpdateOptions& options, std::string& error);

const char* UpdateUsage();
