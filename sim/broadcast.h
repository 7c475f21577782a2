// Device-interface broadcast records, as the system sends them with WM_DEVICECHANGE.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// The layout of the name: ANSI (DEV_BROADCAST_DEVICEINTERFACE_A), or UTF-16
// (DEV_BROADCAST_DEVICEINTERFACE_W), which some systems send even to windows registered for the
// ANSI records.
enum class NameLayout { Ansi, Wide };

// A device-interface record for the HID interface class with this (ASCII) name: size, device
// type 5, reserved, class GUID, then the NUL-terminated name.
std::vector<std::uint8_t> MakeInterfaceBroadcast(const std::string& name, NameLayout layout = NameLayout::Ansi);

}  // namespace sim
