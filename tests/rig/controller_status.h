// The status line of a rig controller's record, and its protocol errors, the same behind Wine's
// HID stack and behind the Linux kernel's:
//
//     complete=<0|1> reports=<n> accepted=<n> refused=<n> replies=<n> stack-refusals=<n>
//     protocol-errors=<n>   (one line)
//     error <text>          (one line per protocol error)
//
// complete: the model received a whole, well-formed download; reports: output reports that
// reached the model's bus (writes and set-output requests); accepted: those it took; refused:
// reports - accepted; replies: reads and get-input requests that reached it; stack-refusals:
// requests that the collection does not declare, refused by the simulated bus as Windows' class
// driver refuses them.
#pragma once

#include <string>

#include "models/hid_device.h"

namespace rig {

std::string ControllerStatus(const models::HidDevice& model);

}  // namespace rig
