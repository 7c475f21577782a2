// How a device model's controller uses its pipes, for a rig that carries reports between a real
// HID stack and the model: which models answer every output report on the interrupt pipe, and
// which take output reports as set-output requests on the control pipe only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "models/hid_device.h"

namespace rig {

// How long the model may take over one report or request that the host waits for. A stalled one
// never completes within any download's limits; the controller is held this long, as a hung
// device holds its host.
inline constexpr std::uint32_t kHungDeviceMs = 10 * 60 * 1000;
// An answer on the interrupt pipe that does not come at once never comes (a stalled or failed
// reply): nothing is sent, and the controller goes on.
inline constexpr std::uint32_t kAnswerNowMs = 0;

// Protocol 3's controller answers every report it takes on its interrupt pipe with one input
// report; the other models send nothing on that pipe.
bool AnswersEachWrite(const models::HidDevice& model);

// Protocol 1's boot loader takes its reports as set-output requests only; the other models take
// output reports on their interrupt pipe.
bool TakesSetOutputRequests(const models::HidDevice& model);

enum class ReportDirection { Input, Output };

// The collection that declares a report of this id in that direction; the first one that
// declares any report in that direction when none declares this id (the bus then refuses it
// for its id), and 0 when none declares any (the bus then refuses it for that).
std::size_t CollectionDeclaring(const models::HidDevice& model, ReportDirection direction, std::uint8_t reportId);

// Whether the model numbers its reports of that direction, so that each starts with its report
// id on the wire; a model that does not sends and takes them without the id 0 in front.
bool NumbersReports(const models::HidDevice& model, ReportDirection direction);

}  // namespace rig
