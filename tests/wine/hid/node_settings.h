// What a rig node's device key holds: which controller and collection it is, where its
// controller's record goes, and the faults and model options it was plugged in with. The
// installer writes these values (one set per node, the same for every node of a controller);
// the model DLL reads them when the driver opens the node.
#pragma once

#include <cstdint>

#include <windows.h>

#include "tests/rig/controller_settings.h"

namespace rig {

// Device key values (REG_DWORD unless said otherwise).
inline constexpr char kVendorValue[] = "Vendor";
inline constexpr char kProductValue[] = "Product";
inline constexpr char kCollectionValue[] = "Collection";      // from 1, in the model's order
inline constexpr char kRecordFolderValue[] = "RecordFolder";  // REG_SZ, a Windows path
inline constexpr char kLatencyValue[] = "LatencyMs";

// One node's settings: its controller's, and which of the controller's collections it is.
struct NodeSettings : ControllerSettings {
    std::uint32_t collection = 0;  // from 1
};

// Writes every value of the settings into a node's device key; false (with the system's error
// code in error) when one cannot be written.
bool WriteNodeSettings(HKEY key, const NodeSettings& settings, LONG& error);

// Reads a node's settings; false when the key does not name a vendor, product and collection.
// Values that are missing keep their defaults (no fault, no option).
bool ReadNodeSettings(HKEY key, NodeSettings& settings);

}  // namespace rig
