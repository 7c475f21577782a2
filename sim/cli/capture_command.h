// oskel-sim --check-capture and --list-devices: the check of a USB capture against the device
// models, and the devices a capture holds.
#pragma once

#include "sim/cli/options.h"

namespace sim {

// Exit statuses of both (2 is bad usage, as for every oskel-sim command).
inline constexpr int kExitConforms = 0;
inline constexpr int kExitDoesNotConform = 1;
inline constexpr int kExitNoSuchDevice = 3;
inline constexpr int kExitUnreadable = 4;

// Reads the capture (and the image), prints the verdict (as JSON with --json) and returns the
// exit status: 0 when every device checked conforms (and wrote the image), 1 when one does not,
// 3 when the capture holds no such device, 4 when a file cannot be read.
int RunCaptureCheck(const CliOptions& options);

// Reads the capture and prints its devices (as JSON with --json): 0, or 4 when it cannot be read.
int RunListDevices(const CliOptions& options);

}  // namespace sim
