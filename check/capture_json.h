// The capture's summary and the check's verdict as one JSON object for a program to read; its
// fields are listed in docs/captures.md.
#pragma once

#include <string>

#include "capture/capture_devices.h"
#include "capture/capture_reader.h"
#include "check/capture_check.h"

namespace capture {

// --list-devices --json: {"capture": {...}, "devices": [...]}
std::string SummaryJson(const CaptureSummary& summary);
// --check-capture --json: the summary's fields and "check": {...}
std::string CheckJson(const CaptureSummary& summary, const CheckVerdict& verdict);
// A file that cannot be read: {"error": {...}}
std::string ErrorJson(const CaptureError& error);

}  // namespace capture
