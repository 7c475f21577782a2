// Starts a download when a device in an update mode arrives.
#pragma once

#include <cstdint>

#include "platform/types.h"

inline constexpr std::uint32_t kDbtDeviceArrival = 0x8000;
inline constexpr std::uint32_t kDbtDeviceRemoveComplete = 0x8004;
inline constexpr std::uint32_t kDbtDevNodesChanged = 0x0007;
inline constexpr std::uint32_t kDbtDevtypDeviceInterface = 5;

// Layout of the device-interface broadcast record (DEV_BROADCAST_DEVICEINTERFACE_A).
inline constexpr std::uint32_t kBroadcastSizeOffset = 0;
inline constexpr std::uint32_t kBroadcastDeviceTypeOffset = 4;
inline constexpr std::uint32_t kBroadcastNameOffset = 28;

// record: the broadcast record as the system delivers it; its first 32-bit field is its size,
// and the name, in the ANSI or the wide (UTF-16) layout, is read and lowercased only within that
// size.
std::int32_t HandleDeviceArrival(platform::WindowHandle dialog, std::uint32_t event, void* record);
