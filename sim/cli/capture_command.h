// oskel-sim --check-capture: the check of a USB capture against the device models.
#pragma once

#include "sim/cli/options.h"

namespace sim {

// Reads the capture (and the image), prints what the check found and returns the exit status:
// 0 when the capture conforms (and the flash equals the image), 1 otherwise.
int RunCaptureCheck(const CliOptions& options);

}  // namespace sim
