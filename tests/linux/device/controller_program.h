// What the Linux rig's two controller programs (oskel-usbip-rig, a virtual USB device, and
// oskel-uhid-rig, a uhid device) do around their controller, the same for both:
//
//   PROGRAM VID:PID [--record FOLDER] [--latency MS] [fault and model options]
//
// takes the options of tests/rig/controller_settings.h; serves the controller in the real-time
// class (SCHED_FIFO) where the system allows it, so that the host's program never outruns it;
// prints "plugged VID:PID" once the controller is plugged in, and ends at SIGTERM, SIGINT or
// SIGHUP, after writing the controller's record in FOLDER:
//
//   descriptor.bin   the report descriptor the device declares (when it is plugged in)
//   trace.txt        the trace of the model's traffic (docs/trace-format.md), as it goes
//   flash.bin        the model's flash, when the program is told to end
//   status.txt       the status line and protocol errors (tests/rig/controller_status.h)
//   timing.txt       first-report-us=<n> last-report-us=<n>: when the first and the last output
//                    report reached the controller (monotonic clock, microseconds)
//   marks.txt        reports=<n> us=<t>: how many output reports had reached the controller when
//                    the program got SIGUSR1, one line each time (a scenario marks a moment)
//
// Exit status: 0 after a signal (the record written), 1 when the controller cannot be plugged in
// or the record cannot be written, 2 for bad usage.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "models/hid_device.h"
#include "tests/rig/controller_settings.h"

namespace rig {

inline constexpr int kControllerFailed = 1;
inline constexpr int kControllerUsage = 2;

// When the first and the last output report reached the controller (monotonic clock).
class ReportTimes {
public:
    void NoteReport();
    std::uint64_t FirstUs() const { return first_; }
    std::uint64_t LastUs() const { return last_; }
    std::uint64_t Reports() const { return reports_; }

private:
    std::atomic<std::uint64_t> first_{0};
    std::atomic<std::uint64_t> last_{0};
    std::atomic<std::uint64_t> reports_{0};
};

// Reads the command line into settings. 0 when it holds a controller; otherwise the exit status,
// after saying why on standard error.
int ParseControllerCommandLine(const char* program, int argc, char** argv, ControllerSettings& settings);

// Blocks the ending signals in this and every thread started later, moves the process into the
// real-time class and opens the trace. False, with the reason on standard error, when the trace
// cannot be written.
bool PrepareControllerProcess(const char* program, const ControllerSettings& settings);

// Writes descriptor.bin (when a record is kept), says "plugged VID:PID", waits for an ending
// signal, writes the rest of the record and ends the process with its exit status. The model may
// be held meanwhile by a stalled report on another thread; it does not change then.
[[noreturn]] void ServeUntilEnded(const char* program, const ControllerSettings& settings,
                                  const models::HidDevice& model, const std::vector<std::uint8_t>& descriptor,
                                  const ReportTimes& times);

}  // namespace rig
