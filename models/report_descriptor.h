// Report descriptors made from a device model's declaration of its top-level collections, so that
// a system's HID parser gives each collection exactly the usage, report ids and report lengths
// the model expects.
#pragma once

#include <cstdint>
#include <vector>

#include "models/hid_device.h"

namespace models {

// One application collection with the collection's usage page and usage. Inside it, when the
// collection declares them: the input report, then the output report, each a run of 8-bit
// vendor-defined values, preceded by its report id when the collection numbers its reports.
// A declared length counts the report-id byte (or the 0 byte that stands for it), so the run has
// length - 1 values.
std::vector<std::uint8_t> ReportDescriptor(const HidCollection& collection);

// The descriptor of a whole device: its collections' descriptors one after another, as a device
// that shows several top-level collections on one interface declares them.
std::vector<std::uint8_t> ReportDescriptor(const std::vector<HidCollection>& collections);

// Whether the collection numbers its reports (a report id in front of every report).
bool NumbersReports(const HidCollection& collection);

}  // namespace models
