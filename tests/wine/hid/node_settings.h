// What a rig node's device key holds: which controller and collection it is, where its
// controller's record goes, and the faults and model options it was plugged in with. The
// installer writes these values (one set per node, the same for every node of a controller);
// the model DLL reads them when the driver opens the node.
#pragma once

#include <cstdint>
#include <string>

#include <windows.h>

#include "sim/hid_bus.h"

namespace rig {

// Device key values (REG_DWORD unless said otherwise).
inline constexpr char kVendorValue[] = "Vendor";
inline constexpr char kProductValue[] = "Product";
inline constexpr char kCollectionValue[] = "Collection";      // from 1, in the model's order
inline constexpr char kRecordFolderValue[] = "RecordFolder";  // REG_SZ, a Windows path
inline constexpr char kLatencyValue[] = "LatencyMs";

// The numeric faults of the simulated bus, as installer options and device key values.
struct FaultSetting {
    const char* option;     // installer option
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

// Options of the device models (sim::HidDevice::SetOption), as installer options and values.
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

struct NodeSettings {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint32_t collection = 0;  // from 1
    std::string recordFolder;
    std::uint32_t latencyMs = 0;
    sim::HidFaults faults;
    std::uint32_t modelValues[sizeof(kModelSettings) / sizeof(kModelSettings[0])] = {};
};

// Writes every value of the settings into a node's device key; false (with the system's error
// code in error) when one cannot be written.
bool WriteNodeSettings(HKEY key, const NodeSettings& settings, LONG& error);

// Reads a node's settings; false when the key does not name a vendor, product and collection.
// Values that are missing keep their defaults (no fault, no option).
bool ReadNodeSettings(HKEY key, NodeSettings& settings);

}  // namespace rig
