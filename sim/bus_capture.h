// The simulated bus's side of the USB capture (capture/capture_writer.h): each device the bus
// plugs in is enumerated in the capture, and each report operation that reaches a device is
// recorded as the transfer that the Windows HID class driver would make of it. The collections
// that number their reports share one USB interface; each one that numbers none is an interface
// of its own (a keyboard among them a boot keyboard, whose LEDs the system sets at plug-in).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "capture/capture_writer.h"
#include "sim/hid_bus.h"

namespace sim {

// The report operations of the bus, as the program calls them.
enum class BusOperation { Write, Read, SetOutput, GetInput };

// Where the first device plugged in sits on USB (0: bus 1, the next free address); the next
// ones take the next free addresses on bus 1.
struct BusPlace {
    std::uint16_t bus = 0;
    std::uint8_t address = 0;
};

bool BusCaptureOpen(const std::string& path, capture::CaptureLink link, BusPlace place, std::string& error);
bool BusCaptureClose(std::string& error);

// The time an operation starts, for its submission (0 when no capture is open).
std::uint64_t CaptureStartTime();
// A device was plugged in: its enumeration goes into the capture.
void CaptureDevicePlugged(const models::HidDevice& device);
// One operation on one of the device's collections ended with status (DeviceGone: the device had
// gone before it; Unplugged: it went away during it). bytes: the report (out), the buffer as
// filled (in, completed) or as passed (in, otherwise).
void CaptureOperation(const models::HidDevice& device, std::size_t collection, BusOperation operation,
                      capture::CaptureStatus status, const std::uint8_t* bytes, std::size_t length,
                      std::uint64_t startedUs);

}  // namespace sim
