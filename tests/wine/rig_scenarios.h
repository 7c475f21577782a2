// The scenarios against virtual controllers behind Wine's HID stack (rig_scenarios_win32.cpp).
#pragma once

#include <string>

namespace driver {

// Runs the scenario (start-protocol2, arrival-protocol1, stalled-report, ...); false when there
// is no scenario of that name.
bool RunRigScenario(const std::string& scenario);

}  // namespace driver
