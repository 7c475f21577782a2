// What a controller holds, written where a test can read it:
//
//   <folder>\flash.bin    the model's flash memory as the download left it
//   <folder>\status.txt   one status line, then one line per protocol error:
//
//     complete=<0|1> reports=<n> accepted=<n> refused=<n> replies=<n> stack-refusals=<n>
//     protocol-errors=<n>   (one line)
//     error <text>
//
// complete: the model received a whole, well-formed download; reports: output reports that
// reached the model's bus (writes and set-output requests); accepted: those it took; refused:
// reports - accepted; replies: reads and get-input requests that reached it; stack-refusals:
// requests that the collection does not declare, refused by the simulated bus as the class
// driver refuses them (the real class driver refuses most of them first). Each file is written
// whole under a temporary name and then renamed, so a reader never sees half of one.
#pragma once

#include <string>

#include "sim/hid_bus.h"

namespace rig {

// The status line and error lines of status.txt.
std::string ControllerStatus(const sim::HidDevice& model);

// Writes both files; false when one cannot be written.
bool WriteControllerRecord(const std::string& folder, const sim::HidDevice& model);

}  // namespace rig
