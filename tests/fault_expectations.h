// The faults of the sweep and the soak, and what the user must see after each.
#pragma once

#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>

#include "protocol/time_limits.h"
#include "sim/hid_bus.h"
#include "sim/scenario.h"

namespace fault_expectations {

// A device fault from one report on: the device refuses that report and every later one, hangs
// on it and on every later one, or is unplugged just before it.
enum class Fault { None, Refused, Stalled, Removed };

inline const char* Name(Fault fault)
{
    switch (fault) {
    case Fault::None: return "None";
    case Fault::Refused: return "Refused";
    case Fault::Stalled: return "Stalled";
    case Fault::Removed: return "Removed";
    }
    return "?";
}

// For the names gtest gives the sweep's cases.
inline void PrintTo(Fault fault, std::ostream* out) { *out << Name(fault); }

inline void Inject(models::HidDevice& device, Fault fault, std::uint32_t report)
{
    switch (fault) {
    case Fault::None: break;
    case Fault::Refused: device.faults.refuseFromReport = report; break;
    case Fault::Stalled: device.faults.stallFromReport = report; break;
    case Fault::Removed: device.faults.removeBeforeReport = report; break;
    }
}

// The simulated time a download with fault at report k of positions spends waiting: time limits
// that run out and pauses.
inline double SimulatedMs(int mode, Fault fault, std::uint32_t k, std::uint32_t positions)
{
    constexpr double kStartPause = 1000;
    constexpr double kStartAttempts = 10;
    const bool stalled = fault == Fault::Stalled;
    if (fault == Fault::None) return 0;
    if (mode == 2 && k == 1) {
        // Every attempt of the start handshake fails, and each is followed by its pause.
        return kStartAttempts * (kStartPause + (stalled ? kReportWriteLimitMs : 0));
    }
    if (!stalled) return 0;
    // Protocol 3 still sends its end report after a failed block; it hangs as well.
    if (mode == 3 && k > 1 && k < positions) return 2.0 * kReportWriteLimitMs;
    return kReportWriteLimitMs;
}

// What the user must see after a download that a device fault at report k has broken.
// Returns "" when all is as it must be, else what differs.
inline std::string CheckFailedOutcome(int mode, std::uint32_t k, const sim::Outcome& outcome)
{
    std::ostringstream problem;
    // Mode 1: a fault at the identify report is an unrecognised device first.
    const std::size_t boxes = mode == 1 && k == 1 ? 2 : 1;
    if (outcome.boxes.size() != boxes) problem << outcome.boxes.size() << " message boxes; ";
    if (mode == 1 && k == 1 && !outcome.boxes.empty() && outcome.boxes.front().text != "无法识别的设备") {
        problem << "first box \"" << outcome.boxes.front().text << "\"; ";
    }
    if (outcome.ResultText() != "Download Failture!" || outcome.boxes.back().flags != 0x10) {
        problem << "result \"" << outcome.ResultText() << "\"; ";
    }
    if (!outcome.controlsEnabled || !outcome.controlsEnabledAtResult) problem << "controls not enabled again; ";
    if (outcome.busy != 0) problem << "busy " << outcome.busy << "; ";
    if (outcome.updateModeFlag != 0) problem << "UpdateModeFlag " << outcome.updateModeFlag << "; ";
    if (outcome.barPos != 0) problem << "bar at " << outcome.barPos << "; ";
    return problem.str();
}

}  // namespace fault_expectations
