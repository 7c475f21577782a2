// HID devices: enumeration, opening, identification and report traffic.
//
// Every report operation is bounded by the time limit it is given: an operation that does
// not complete within it is cancelled and reported as failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/types.h"

namespace platform {

// Device paths of every present HID interface, in enumeration order.
// Returns false when the set of interfaces cannot be obtained at all.
bool HidEnumerateInterfaces(std::vector<std::string>& paths);

// Opens a handle with no access rights (for identification only), or a synchronous-looking
// read-write handle (for reports). Both share reading and writing. kInvalidHandle on failure.
DeviceHandle HidOpenProbe(const std::string& path);
DeviceHandle HidOpenReadWrite(const std::string& path);

bool HidGetAttributes(DeviceHandle handle, std::uint16_t& vendorId, std::uint16_t& productId);

// Usage page and usage of the interface's top-level collection.
bool HidGetTopCollectionUsage(DeviceHandle handle, std::uint16_t& usagePage, std::uint16_t& usage);

// One output report written to the handle (the first byte is the report id).
bool HidWriteReport(DeviceHandle handle, const std::uint8_t* report, std::size_t length,
                    std::uint32_t timeLimitMs);

// One input report read from the handle into buffer (length bytes).
bool HidReadReport(DeviceHandle handle, std::uint8_t* buffer, std::size_t length,
                   std::uint32_t timeLimitMs);

// The HID class requests for output and input reports (byte 0 is the report id).
bool HidSetOutputReport(DeviceHandle handle, const std::uint8_t* report, std::size_t length,
                        std::uint32_t timeLimitMs);
bool HidGetInputReport(DeviceHandle handle, std::uint8_t* buffer, std::size_t length,
                       std::uint32_t timeLimitMs);

void HidClose(DeviceHandle handle);

}  // namespace platform
