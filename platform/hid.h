// HID devices: enumeration, opening, identification and report traffic.
//
// Every report operation is bounded by the time limit it is given: an operation that does
// not complete within it is cancelled and ends TimedOut. Each call that can fail hands back its
// outcome and why (platform/outcome.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/outcome.h"
#include "platform/types.h"

namespace platform {

// Adds the device paths of every present HID interface to paths, in enumeration order (the
// caller empties the list first). Fails when the set of interfaces cannot be obtained at all.
Outcome HidEnumerateInterfaces(std::vector<std::string>& paths);

// Opens a handle with no access rights (for identification only); kInvalidHandle when it fails.
Opened HidOpenProbe(const std::string& path);

// Opens a synchronous-looking read-write handle (for reports). Both kinds of handle share reading
// and writing. A read-write open that fails gives kInvalidHandle and why (Denied: this user may
// not open the device; Held: another program holds it), for the debugger output and the front end.
Opened HidOpenReadWrite(const std::string& path);

Outcome HidGetAttributes(DeviceHandle handle, std::uint16_t& vendorId, std::uint16_t& productId);

// The capabilities of the interface's top-level collection, as the HID parser reports them
// (the members of HIDP_CAPS that the updater reads). Report lengths count the report-id byte,
// which is 0 for a collection that numbers no reports; a length of 0 means no such report.
struct HidCaps {
    std::uint16_t Usage = 0;
    std::uint16_t UsagePage = 0;
    std::uint16_t InputReportByteLength = 0;
    std::uint16_t OutputReportByteLength = 0;
};
Outcome HidGetCaps(DeviceHandle handle, HidCaps& caps);

// Drops the input reports that the driver has queued for the handle since it was opened.
Outcome HidFlushInput(DeviceHandle handle);

// One output report written to the handle (the first byte is the report id).
Outcome HidWriteReport(DeviceHandle handle, const std::uint8_t* report, std::size_t length,
                       std::uint32_t timeLimitMs);

// One input report read from the handle into buffer (length bytes).
Outcome HidReadReport(DeviceHandle handle, std::uint8_t* buffer, std::size_t length,
                      std::uint32_t timeLimitMs);

// The HID class requests for output and input reports (byte 0 is the report id). Where the
// requests need the device's USB interface for this program (Linux), the first one claims it, and
// a claim that fails ends the request as a refused open does (the outcome names the node).
Outcome HidSetOutputReport(DeviceHandle handle, const std::uint8_t* report, std::size_t length,
                           std::uint32_t timeLimitMs);
Outcome HidGetInputReport(DeviceHandle handle, std::uint8_t* buffer, std::size_t length,
                          std::uint32_t timeLimitMs);

void HidClose(DeviceHandle handle);

}  // namespace platform
