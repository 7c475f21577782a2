// What sysfs tells anyone of a device, read with bounds: the untrusted text of its attribute files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace platform {

// The first line of a file ("" when it cannot be read).
std::string SysfsFirstLine(const std::filesystem::path& file);

// A number of at most 5 digits in base 10 or 16, no larger than largest; false otherwise.
bool SysfsNumber(const std::filesystem::path& file, int base, unsigned largest, unsigned& value);

// DEVNAME of a sysfs device's uevent ("bus/usb/001/004"), checked to be a plain relative path;
// "" when there is none.
std::string SysfsDeviceName(const std::filesystem::path& device);

// A USB interface as sysfs tells it: its class and number, and its device's ids, place on the
// bus and usbfs node.
struct SysfsUsbInterface {
    std::uint8_t interfaceClass = 0;
    std::uint8_t interfaceNumber = 0;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t bus = 0;
    std::uint8_t address = 0;
    std::string deviceNode;  // "/dev/bus/usb/001/004"
};

// The facts of the USB interface at interface ("/sys/bus/usb/devices/3-1:1.0", canonical), whose
// parent is its device; false when it is no USB interface (uhid and the like) or a fact is
// missing or out of its range.
bool SysfsReadUsbInterface(const std::filesystem::path& interface, SysfsUsbInterface& facts);

}  // namespace platform
