// The device-interface broadcast record (DEV_BROADCAST_DEVICEINTERFACE_A) that comes with
// WM_DEVICECHANGE, its layout, and the record of one HID interface's arrival as the system makes
// it, for whatever announces an interface to the arrival watcher as the system would (the Linux
// program's udev arrivals, the simulated world).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

inline constexpr std::uint32_t kDbtDevtypDeviceInterface = 5;

inline constexpr std::uint32_t kBroadcastSizeOffset = 0;
inline constexpr std::uint32_t kBroadcastDeviceTypeOffset = 4;
inline constexpr std::uint32_t kBroadcastClassOffset = 12;
inline constexpr std::uint32_t kBroadcastNameOffset = 28;

// {4D1E55B2-F16F-11CF-88CB-001111000030}, the HID interface class, in its in-memory byte order.
inline constexpr std::uint8_t kHidInterfaceClass[16] = {0xB2, 0x55, 0x1E, 0x4D, 0x6F, 0xF1, 0xCF, 0x11,
                                                        0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30};

// The record for a HID interface with this (ASCII) name: size, device type 5, reserved, class,
// then the NUL-terminated name, in ANSI characters, or with wide set in UTF-16 (the layout some
// systems send even to windows registered for the ANSI records).
inline std::vector<std::uint8_t> InterfaceArrivalRecord(const std::string& name, bool wide = false)
{
    const std::size_t unit = wide ? 2 : 1;
    std::vector<std::uint8_t> record(kBroadcastNameOffset + (name.size() + 1) * unit, 0);
    const auto size = static_cast<std::uint32_t>(record.size());
    std::memcpy(record.data() + kBroadcastSizeOffset, &size, sizeof size);
    std::memcpy(record.data() + kBroadcastDeviceTypeOffset, &kDbtDevtypDeviceInterface, sizeof kDbtDevtypDeviceInterface);
    std::memcpy(record.data() + kBroadcastClassOffset, kHidInterfaceClass, sizeof kHidInterfaceClass);
    for (std::size_t i = 0; i < name.size(); ++i) {
        record[kBroadcastNameOffset + i * unit] = static_cast<std::uint8_t>(name[i]);
    }
    return record;
}
