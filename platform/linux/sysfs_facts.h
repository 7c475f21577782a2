// What sysfs tells anyone of a device, read with bounds: the untrusted text of its attribute files.
#pragma once

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

}  // namespace platform
