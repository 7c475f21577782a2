// What a controller holds, written where a test can read it:
//
//   <folder>\flash.bin    the model's flash memory as the download left it
//   <folder>\status.txt   the status line and protocol errors (tests/rig/controller_status.h)
//
// Each file is written whole under a temporary name and then renamed, so a reader never sees
// half of one.
#pragma once

#include <string>

#include "models/hid_device.h"
#include "tests/rig/controller_status.h"

namespace rig {

// Writes both files; false when one cannot be written.
bool WriteControllerRecord(const std::string& folder, const models::HidDevice& model);

}  // namespace rig
