// Device-interface broadcast records, as the system sends them with WM_DEVICECHANGE.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// A DEV_BROADCAST_DEVICEINTERFACE_A record for the HID interface class with this name:
// size, device type 5, reserved, class GUID, then the NUL-terminated name.
std::vector<std::uint8_t> MakeInterfaceBroadcast(const std::string& name);

}  // namespace sim
