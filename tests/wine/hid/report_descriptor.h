// The report descriptor of one top-level collection, made from the device model's declaration
// of it, so that the system's HID parser gives the node exactly the usage, report ids and report
// lengths the model expects.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/hid_bus.h"

namespace rig {

// One application collection with the collection's usage page and usage. Inside it, when the
// collection declares them: the input report, then the output report, each a run of 8-bit
// vendor-defined values, preceded by its report id when the collection numbers its reports.
// A declared length counts the report-id byte (or the 0 byte that stands for it), so the run has
// length - 1 values.
std::vector<std::uint8_t> ReportDescriptor(const sim::HidCollection& collection);

// Whether the collection numbers its reports (a report id in front of every report).
bool NumbersReports(const sim::HidCollection& collection);

}  // namespace rig
