// The rig's controller behind the Linux kernel's HID stack (test rig only, runs in the test
// machine as root, linked statically so that it needs nothing there):
//
//   oskel-uhid-rig VID:PID [--record FOLDER] [--latency MS] [fault and model options]
//
// plugs in one simulated controller of that vendor and product through /dev/uhid (see
// uhid_controller.h) and serves it until SIGTERM, SIGINT or SIGHUP. The fault and model options
// are those of tests/rig/controller_settings.h (--refuse-report N, --stall-report N,
// --remove-after N, --fail-reply N, --stall-reply N, --refuse-start K, --no-identify-reply, ...).
// "plugged VID:PID" on standard output tells that the device was created.
//
// The record, in FOLDER (the same files as the rig behind Wine's HID stack, and two more):
//
//   descriptor.bin   the report descriptor the device was created with (at once)
//   trace.txt        the trace of the model's traffic (docs/trace-format.md), as it goes
//   flash.bin        the model's flash, when the program is told to end
//   status.txt       the status line and protocol errors (tests/rig/controller_status.h), then
//   timing.txt       first-report-us=<n> last-report-us=<n>: when the first and the last output
//                    report reached the controller (monotonic clock, microseconds)
//
// The controller is served by a thread of the real-time class (SCHED_FIFO) when the system
// allows it: uhid takes output reports without waiting for the device, and drops them when its
// queue of 32 events is full, so the device must take each one before the host can write many
// more. A real controller's interrupt pipe paces its host instead.
//
// Exit status: 0 after a signal (the record written), 1 when the device cannot be created or the
// record cannot be written, 2 for bad usage.
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "sim/trace.h"
#include "tests/linux/device/uhid_controller.h"
#include "tests/rig/controller_settings.h"
#include "tests/rig/controller_status.h"

namespace {

constexpr int kUsage = 2;
constexpr int kFailed = 1;
// The real-time priority of the serving thread: above every ordinary process, the host's
// program included; the value itself does not matter within the real-time class.
constexpr int kServingPriority = 50;

int UsageError(const std::string& what)
{
    std::fprintf(stderr,
                 "oskel-uhid-rig: %s\n"
                 "usage: oskel-uhid-rig VID:PID [--record FOLDER] [--latency MS] [fault and model options]\n",
                 what.c_str());
    return kUsage;
}

bool WriteFile(const std::string& path, const void* bytes, std::size_t length)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "oskel-uhid-rig: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    const bool written = length == 0 || std::fwrite(bytes, 1, length, file) == length;
    return std::fclose(file) == 0 && written;
}

bool WriteText(const std::string& path, const std::string& text)
{
    return WriteFile(path, text.data(), text.size());
}

bool WriteRecord(const std::string& folder, const rig::UhidController& controller)
{
    const models::HidDevice& model = controller.Model();
    const std::vector<std::uint8_t> flash = model.Flash();
    const rig::ReportTimes times = controller.Times();
    char timing[96];
    std::snprintf(timing, sizeof timing, "first-report-us=%" PRIu64 " last-report-us=%" PRIu64 "\n", times.firstUs,
                  times.lastUs);
    const bool flashWritten = WriteFile(folder + "/flash.bin", flash.data(), flash.size());
    const bool statusWritten = WriteText(folder + "/status.txt", rig::ControllerStatus(model));
    const bool timingWritten = WriteText(folder + "/timing.txt", timing);
    return flashWritten && statusWritten && timingWritten;
}

void ServeInRealTime()
{
    sched_param parameters{};
    parameters.sched_priority = kServingPriority;
    if (sched_setscheduler(0, SCHED_FIFO, &parameters) != 0) {
        std::fprintf(stderr, "oskel-uhid-rig: no real-time class (%s): the host may outrun the device\n",
                     std::strerror(errno));
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) return UsageError("no controller");
    rig::ControllerSettings settings;
    if (!rig::ParseIds(argv[1], settings.vendorId, settings.productId))
        return UsageError(std::string("not a VID:PID: ") + argv[1]);
    for (int i = 2; i < argc; ++i) {
        std::string error;
        switch (rig::ParseControllerOption(argv[i], i + 1 < argc ? argv[i + 1] : nullptr, settings, error)) {
        case rig::OptionUse::Flag: break;
        case rig::OptionUse::Value: ++i; break;
        case rig::OptionUse::Bad: return UsageError(error);
        case rig::OptionUse::Unknown: return UsageError(std::string("unknown option ") + argv[i]);
        }
    }

    // The signals that end the program wait for the main thread; the serving thread, started
    // below, inherits the mask.
    sigset_t endSignals;
    sigemptyset(&endSignals);
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&endSignals, signal);
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);
    ServeInRealTime();

    const std::string& folder = settings.recordFolder;
    if (!folder.empty() && !sim::TraceOpen(folder + "/trace.txt")) {
        std::fprintf(stderr, "oskel-uhid-rig: cannot write %s/trace.txt\n", folder.c_str());
        return kFailed;
    }
    sim::TraceKeepLines(false);

    rig::UhidController controller(rig::MakeControllerModel(settings));
    std::string error;
    if (!controller.Plug(error)) {
        std::fprintf(stderr, "oskel-uhid-rig: %04x:%04x: %s\n", settings.vendorId, settings.productId, error.c_str());
        return kFailed;
    }
    if (!folder.empty()) {
        const std::vector<std::uint8_t>& descriptor = controller.Descriptor();
        if (!WriteFile(folder + "/descriptor.bin", descriptor.data(), descriptor.size())) return kFailed;
    }
    std::printf("plugged %04x:%04x\n", settings.vendorId, settings.productId);
    std::fflush(stdout);

    std::thread([&controller] {
        std::string why;
        controller.Serve(why);
        std::fprintf(stderr, "oskel-uhid-rig: %s\n", why.c_str());
    }).detach();

    int signal = 0;
    sigwait(&endSignals, &signal);
    // The serving thread may be held by a stalled report; the model is not changing meanwhile.
    const bool recorded = folder.empty() || WriteRecord(folder, controller);
    sim::TraceClose();
    std::fflush(nullptr);
    _exit(recorded ? 0 : kFailed);
}
