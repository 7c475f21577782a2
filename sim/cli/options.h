// Command line of oskel-sim.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "capture/capture_writer.h"
#include "sim/hid_bus.h"

namespace sim {

struct CliOptions {
    bool help = false;
    bool version = false;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    bool haveDevice = false;
    bool arrivalRoad = false;
    std::string tracePath;
    std::string flashPath;
    std::string usbTreePath;
    std::string pcapPath;                 // --pcap: the run's HID traffic as a USB capture
    capture::CaptureLink pcapLink = capture::CaptureLink::Usbmon;
    std::string checkCapturePath;         // --check-capture: judge a capture instead of a run
    std::string imagePath;                // --image: the image the checked capture should write
    std::string listDevicesPath;          // --list-devices: the devices a capture holds
    bool json = false;                    // --json: their answer as one JSON object
    bool haveAddress = false;             // --address BUS.DEV: the device's place on USB
    std::uint16_t bus = 0;
    std::uint8_t address = 0;
    std::uint32_t timeScale = 1;
    bool fixTicks = false;
    std::uint32_t ticks = 0;
    std::uint32_t latencyMs = 0;
    bool upperCase = false;
    bool keyboardFirst = false;  // the device of mode 3 behind a keyboard interface
    models::HidFaults faults;
    std::vector<std::pair<std::string, std::uint32_t>> modelOptions;
};

const char* CliUsage();
bool ParseCliOptions(int argc, char** argv, CliOptions& options, std::string& error);

// Sets up time and the USB tree from the options.
bool PrepareWorld(const CliOptions& options, std::string& error);
// The device the options describe, with its faults and model options (null on error).
std::shared_ptr<models::HidDevice> MakeConfiguredDevice(const CliOptions& options, std::string& error);

}  // namespace sim
