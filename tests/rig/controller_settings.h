// What a rig controller is plugged in with, the same for the rig behind Wine's HID stack
// (tests/wine/hid/) and the one behind the Linux kernel's (tests/linux/): which model, its
// faults, its model options, the real time it takes per report, and where its record goes.
// Both rigs take these as the same command-line options.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sim/hid_bus.h"

namespace rig {

// The numeric faults of the simulated bus, as rig options and (behind Wine) device key values.
struct FaultSetting {
    const char* option;     // rig option
    const char* valueName;  // device key value
    std::uint32_t sim::HidFaults::*field;
};

inline constexpr FaultSetting kFaultSettings[] = {
    {"--refuse-report", "RefuseReport", &sim::HidFaults::refuseReport},
    {"--stall-report", "StallReport", &sim::HidFaults::stallReport},
    {"--remove-after", "RemoveAfterReports", &sim::HidFaults::removeAfterReports},
    {"--refuse-from-report", "RefuseFromReport", &sim::HidFaults::refuseFromReport},
    {"--stall-from-report", "StallFromReport", &sim::HidFaults::stallFromReport},
    {"--remove-before-report", "RemoveBeforeReport", &sim::HidFaults::removeBeforeReport},
    {"--fail-reply", "FailReply", &sim::HidFaults::failReply},
    {"--stall-reply", "StallReply", &sim::HidFaults::stallReply},
};

// Options of the device models (sim::HidDevice::SetOption), as rig options and values.
struct ModelSetting {
    const char* option;
    const char* valueName;
    const char* modelOption;
    bool takesNumber;  // else a flag: 1 when given
};

inline constexpr ModelSetting kModelSettings[] = {
    {"--refuse-start", "RefuseStart", "refuse-start", true},
    {"--no-identify-reply", "NoIdentifyReply", "no-identify-reply", false},
};

inline constexpr char kRecordOption[] = "--record";
inline constexpr char kLatencyOption[] = "--latency";

struct ControllerSettings {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string recordFolder;
    std::uint32_t latencyMs = 0;
    sim::HidFaults faults;
    std::uint32_t modelValues[sizeof(kModelSettings) / sizeof(kModelSettings[0])] = {};
};

// "2563:1818" (hexadecimal) into vendor and product; false when it is not that.
bool ParseIds(const char* text, std::uint16_t& vendorId, std::uint16_t& productId);
// A decimal number that fits 32 bits; false otherwise.
bool ParseNumber(const char* text, std::uint32_t& value);

// What ParseControllerOption made of one option.
enum class OptionUse {
    Flag,     // taken, without a value
    Value,    // taken with the value after it
    Unknown,  // not one of the shared options
    Bad,      // one of them, but its value is missing or wrong (error says why)
};

// One of the shared options (--record FOLDER, --latency MS, the faults and the model options)
// into settings; value is the argument after it, or null when there is none.
OptionUse ParseControllerOption(const std::string& option, const char* value, ControllerSettings& settings,
                                std::string& error);

// A fresh model of the settings' vendor and product, with their faults, latency and options.
std::shared_ptr<sim::HidDevice> MakeControllerModel(const ControllerSettings& settings);

}  // namespace rig
