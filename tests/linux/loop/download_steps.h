// The reports of each mode's whole download, as the updater sends them, made up front from an
// image, so that a loop can put them through a hidraw node as fast as the node takes them: the
// bare loop that the updater's downloads are measured against, and the rig's own proof that a
// download through the kernel's HID stack ends with the image in the controller's flash.
//
// The reports are built here with the protocols' report layouts (protocol/protocol*_reports.h),
// which the device models read them with, not by the updater's transfers. One difference from
// the updater: protocol 1's chunks go in ascending order (the updater starts at a chunk drawn
// from the tick count), each in a report of its own whose unused bytes are 0, which the boot
// loader does not mind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rig {

enum class StepKind {
    Write,      // write() of an output report
    SetOutput,  // HIDIOCSOUTPUT of an output report
    GetInput,   // HIDIOCGINPUT of the input report whose id is bytes[0], bytes.size() long
    Read,       // read() of one input report, bytes.size() long
    Flush,      // read() without waiting until nothing is queued
};

struct Step {
    StepKind kind;
    std::vector<std::uint8_t> bytes;
    std::uint32_t timeLimitMs;
};

// The steps of mode 1, 2 or 3 for this image; empty when the image does not fit the mode.
std::vector<Step> DownloadSteps(int mode, const std::vector<std::uint8_t>& image);

}  // namespace rig
