// The capture's summary and the check's verdict as lines for a person to read (docs/captures.md).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/capture_devices.h"
#include "check/capture_check.h"

namespace capture {

// --list-devices: the capture, then each device with its strings, interfaces and tallies.
std::vector<std::string> SummaryLines(const CaptureSummary& summary);
// --check-capture: the capture, then each device checked, what the check found.
std::vector<std::string> VerdictLines(const CaptureSummary& summary, const CheckVerdict& verdict);
// Why no device was checked: what the capture holds instead.
std::string NoDeviceText(const CaptureSummary& summary, const CheckVerdict& verdict);

// Pieces both renderings share.
std::string Hex16(unsigned value);          // "2563"
std::string HexByte(unsigned value);        // "0x81"
std::string TimeText(const FrameTime& at);  // "0.003047" (seconds)
std::string TransferTypeName(std::uint8_t type);  // "control", "interrupt", ...

}  // namespace capture
