// The layout of the device-interface broadcast record (DEV_BROADCAST_DEVICEINTERFACE_A) that comes
// with WM_DEVICECHANGE.
#pragma once

#include <cstdint>

inline constexpr std::uint32_t kDbtDevtypDeviceInterface = 5;

inline constexpr std::uint32_t kBroadcastSizeOffset = 0;
inline constexpr std::uint32_t kBroadcastDeviceTypeOffset = 4;
inline constexpr std::uint32_t kBroadcastClassOffset = 12;
inline constexpr std::uint32_t kBroadcastNameOffset = 28;

// {4D1E55B2-F16F-11CF-88CB-001111000030}, the HID interface class, in its in-memory byte order.
inline constexpr std::uint8_t kHidInterfaceClass[16] = {0xB2, 0x55, 0x1E, 0x4D, 0x6F, 0xF1, 0xCF, 0x11,
                                                        0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30};
