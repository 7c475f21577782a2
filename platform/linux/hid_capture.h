// The USB capture of the Linux program (oskel-update --capture=FILE): what the HID backend does,
// written as the transfers that the kernel's HID stack makes of it (capture/capture_writer.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/outcome.h"

namespace platform {

struct HidNodeFacts;
struct UsbPlace;

// Asks for a capture into path. Nothing is created yet: the file is made when the first
// controller is opened for reading and writing (CaptureNode). False, with the reason, when path
// names a symbolic link, which the capture never follows.
bool CaptureRequest(const std::string& path, std::string& error);
// Whether the capture's file was made.
bool CaptureFileMade();
// Finishes the capture file, when one was made; false, with the reason, when a write failed.
bool CaptureFinish(std::string& error);

// The device behind a node as the capture knows it.
struct CapturedDevice {
    int number = 0;            // capture::CaptureAddDevice's number; 0 when no capture is open
    bool interruptOut = true;  // hidraw sends output reports over an interrupt OUT endpoint
};

// The node's device in the capture (made on the first call: see CaptureRequest), added with its
// enumeration the first time one of its handles is opened for reading and writing. A USB
// device's place tells its bus, address and whether its interface has an interrupt OUT endpoint;
// without one (uhid) hidraw uses the transport's own output path, which a capture shows as
// interrupt OUT. False, with the reason, when a capture was asked for and cannot be made.
bool CaptureNode(const std::string& node, const HidNodeFacts& facts, const UsbPlace& place, CapturedDevice& captured,
                 std::string& error);

// When an operation on the device starts, for its record: 0 while no capture is open, so that
// reports pay nothing for the capture then.
std::uint64_t CaptureSubmitTime(const CapturedDevice& device);

// One output report, on the control endpoint (setReport: a SET_REPORT request) or on the
// interrupt OUT endpoint. A report that ended Gone is on the bus, given back by the host
// controller, when the device went away while the transfer was in flight (unpluggedInFlight:
// platform/linux/hid_call.h); otherwise it never reached the bus and the capture shows nothing.
void CaptureOutputReport(const CapturedDevice& device, bool setReport, const std::uint8_t* report, std::size_t length,
                         Status status, bool unpluggedInFlight, std::uint64_t submittedUs);
// One input report, read (read) or asked for (GET_REPORT); report holds the report id in byte
// 0, as the seam gives it. unpluggedInFlight as for an output report.
void CaptureInputReport(const CapturedDevice& device, bool getReport, const std::uint8_t* report,
                        std::size_t length, Status status, bool unpluggedInFlight, std::uint64_t submittedUs);

}  // namespace platform
