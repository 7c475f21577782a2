// How a device model's controller uses its pipes, for a rig that carries reports between a real
// HID stack and the model: which models answer every output report on the interrupt pipe, and
// which take output reports as set-output requests on the control pipe only.
#pragma once

#include "models/hid_device.h"

namespace rig {

// Protocol 3's controller answers every report it takes on its interrupt pipe with one input
// report; the other models send nothing on that pipe.
bool AnswersEachWrite(const models::HidDevice& model);

// Protocol 1's boot loader takes its reports as set-output requests only; the other models take
// output reports on their interrupt pipe.
bool TakesSetOutputRequests(const models::HidDevice& model);

}  // namespace rig
