// What a rig controller is plugged in with, the same for the rig behind Wine's HID stack
// (tests/wine/hid/) and the one behind the Linux kernel's (tests/linux/): which model, its
// faults, its model options, the real time it takes per report, and where its record goes.
// Both rigs take these as the same command-line options.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "models/hid_device.h"

namespace rig {

// The numeric faults of the simulated bus, as rig options and (behind Wine) device key values.
struct FaultSetting {
    const char* option;     // rig option
    const char* valueName;  // device key value
    std::uint32_t models::HidFaults::*field;
};

inline constexpr FaultSetting kFaultSettings[] = {
    {"--refuse-report", "RefuseReport", &models::HidFaults::refuseReport},
    {"--stall-report", "StallReport", &models::HidFaults::stallReport},
    {"--remove-after", "RemoveAfterReports", &models::HidFaults::removeAfterReports},
    {"--refuse-from-report", "RefuseFromReport", &models::HidFaults::refuseFromReport},
    {"--stall-from-report", "StallFromReport", &models::HidFaults::stallFromReport},
    {"--remove-before-report", "RemoveBeforeReport", &models::HidFaults::removeBeforeReport},
    {"--fail-reply", "FailReply", &models::HidFaults::failReply},
    {"--stall-reply", "StallReply", &models::HidFaults::stallReply},
};

// Options of the device models (models::HidDevice::SetOption), as rig options and values.
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
    models::HidFaults faults;
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
std::shared_ptr<models::HidDevice> MakeControllerModel(const ControllerSettings& settings);

}  // namespace rig
