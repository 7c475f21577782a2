// The blocking report calls of the Linux HID backend, made directly on the calling thread, and
// how each one ended.
//
// What bounds each call (docs/testing.md, "The Linux backend where hidraw differs from Windows"):
// - write() and HIDIOCSOUTPUT on hidraw: the driver's own limit. usbhid gives an interrupt OUT
//   transfer or a SET_REPORT request 5 s (USB_CTRL_SET_TIMEOUT) and waits for it uninterruptibly;
//   uhid queues the report and returns at once.
// - HIDIOCGINPUT: usbhid's GET_REPORT request, 5 s (USB_CTRL_GET_TIMEOUT); uhid waits 5 s for the
//   device program's answer.
// - read(): poll() with the caller's limit (platform/linux/hid.cpp).
// - The HID class requests through usbfs (platform/linux/hid_usb.h): libusb's transfer timeout,
//   which is the caller's limit.
// The program's limits for single reports are 5 s (protocol/time_limits.h), the kernel's own. A
// call that returns after its limit, whatever it returned, counts as timed out, as on Windows,
// where the request is cancelled at its limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/outcome.h"

namespace platform {

// How a call ended is the seam's outcome (platform/outcome.h): Done when it took or returned the
// whole report, Refused when the device refused it (a STALL handshake), TimedOut without an answer
// within its limit, Gone when the device was unplugged, Failed for any other error.
enum class HidrawCall { Write, SetOutputReport, GetInputReport };

// One call on a hidraw descriptor with report (length bytes; for GetInputReport the reply
// replaces it, byte 0 the report id asked for). Done when the call returned length bytes
// (GetInputReport: at least one, the rest of report zeroed) within timeLimitMs; otherwise the
// outcome names the call and what happened.
//
// A call that ends Gone went one of two ways, which the capture tells apart: the transport
// refused it before it reached the host controller (ENODEV: hidraw's node or usbcore's device
// had gone already), or it had taken the transfer, which the host controller gave back when the
// device went away while it waited on the bus (ESHUTDOWN: usbcore flushes the interface's
// endpoints at the disconnect, and usbhid passes the status on). unpluggedInFlight tells the
// second.
Outcome CallHidraw(int fd, HidrawCall call, std::uint8_t* report, std::size_t length, std::uint32_t timeLimitMs,
                   bool& unpluggedInFlight);

// A monotonic clock in milliseconds, and the outcome of the call name that took from startMs until
// now against its limit: TimedOut when it ran over, whatever it returned.
std::uint64_t CallClockMs();
Outcome WithinLimit(Outcome outcome, std::uint64_t startMs, std::uint32_t timeLimitMs, const std::string& name);

}  // namespace platform
