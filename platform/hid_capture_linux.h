// The USB capture of the Linux program (oskel-update --capture FILE): what the HID backend does,
// written as the transfers that the kernel's HID stack makes of it (capture/capture_writer.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/hid_call_linux.h"

namespace platform {

struct HidNodeFacts;

// The device behind a node as the capture knows it.
struct CapturedDevice {
    int number = 0;            // capture::CaptureAddDevice's number; 0 when no capture is open
    bool interruptOut = true;  // hidraw sends output reports over an interrupt OUT endpoint
};

// The node's device in the capture, added (with its enumeration) the first time one of its
// handles is opened for reading and writing. A USB device's sysfs entries tell its bus, address
// and whether its interface has an interrupt OUT endpoint; without them (uhid) hidraw uses the
// transport's own output path, which a capture shows as interrupt OUT.
CapturedDevice CaptureNode(const std::string& node, const HidNodeFacts& facts);

// When an operation on the device starts, for its record: 0 while no capture is open, so that
// reports pay nothing for the capture then.
std::uint64_t CaptureSubmitTime(const CapturedDevice& device);

// One output report, written (write) or sent as a set-output request (HIDIOCSOUTPUT); hidraw
// sends both on the interrupt OUT endpoint where the device has one, as SET_REPORT otherwise.
void CaptureOutputReport(const CapturedDevice& device, const std::uint8_t* report, std::size_t length,
                         CallOutcome outcome, std::uint64_t submittedUs);
// One input report, read (read) or asked for (HIDIOCGINPUT, always GET_REPORT); report holds
// the report id in byte 0, as the seam gives it.
void CaptureInputReport(const CapturedDevice& device, bool getReport, const std::uint8_t* report,
                        std::size_t length, CallOutcome outcome, std::uint64_t submittedUs);

}  // namespace platform
