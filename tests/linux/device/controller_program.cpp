#include "tests/linux/device/controller_program.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "sim/trace.h"
#include "tests/rig/controller_status.h"

namespace rig {
namespace {

// The real-time priority of the serving threads: above every ordinary process, the host's
// program included; the value itself does not matter within the real-time class.
constexpr int kServingPriority = 50;

// The signals the program waits for: the ending ones, and SIGUSR1, which marks a moment.
sigset_t WaitedSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGUSR1}) sigaddset(&signals, signal);
    return signals;
}

std::uint64_t NowUs()
{
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

bool WriteFile(const char* program, const std::string& path, const void* bytes, std::size_t length)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "%s: cannot write %s: %s\n", program, path.c_str(), std::strerror(errno));
        return false;
    }
    const bool written = length == 0 || std::fwrite(bytes, 1, length, file) == length;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) std::fprintf(stderr, "%s: cannot write %s\n", program, path.c_str());
    return written && closed;
}

bool WriteText(const char* program, const std::string& path, const std::string& text)
{
    return WriteFile(program, path, text.data(), text.size());
}

bool WriteRecord(const char* program, const std::string& folder, const models::HidDevice& model,
                 const ReportTimes& times)
{
    const std::vector<std::uint8_t> flash = model.Flash();
    char timing[96];
    std::snprintf(timing, sizeof timing, "first-report-us=%" PRIu64 " last-report-us=%" PRIu64 "\n", times.FirstUs(),
                  times.LastUs());
    const bool flashWritten = WriteFile(program, folder + "/flash.bin", flash.data(), flash.size());
    const bool statusWritten = WriteText(program, folder + "/status.txt", ControllerStatus(model));
    const bool timingWritten = WriteText(program, folder + "/timing.txt", timing);
    return flashWritten && statusWritten && timingWritten;
}

int UsageError(const char* program, const std::string& what)
{
    std::fprintf(stderr,
                 "%s: %s\n"
                 "usage: %s VID:PID [--record FOLDER] [--latency MS] [fault and model options]\n",
                 program, what.c_str(), program);
    return kControllerUsage;
}

}  // namespace

void ReportTimes::NoteReport()
{
    const std::uint64_t now = NowUs();
    ++reports_;
    std::uint64_t unset = 0;
    first_.compare_exchange_strong(unset, now);
    last_ = now;
}

int ParseControllerCommandLine(const char* program, int argc, char** argv, ControllerSettings& settings)
{
    if (argc < 2) return UsageError(program, "no controller");
    if (!ParseIds(argv[1], settings.vendorId, settings.productId))
        return UsageError(program, std::string("not a VID:PID: ") + argv[1]);
    for (int i = 2; i < argc; ++i) {
        std::string error;
        switch (ParseControllerOption(argv[i], i + 1 < argc ? argv[i + 1] : nullptr, settings, error)) {
        case OptionUse::Flag: break;
        case OptionUse::Value: ++i; break;
        case OptionUse::Bad: return UsageError(program, error);
        case OptionUse::Unknown: return UsageError(program, std::string("unknown option ") + argv[i]);
        }
    }
    return 0;
}

bool PrepareControllerProcess(const char* program, const ControllerSettings& settings)
{
    const sigset_t waited = WaitedSignals();
    pthread_sigmask(SIG_BLOCK, &waited, nullptr);
    sched_param parameters{};
    parameters.sched_priority = kServingPriority;
    if (sched_setscheduler(0, SCHED_FIFO, &parameters) != 0) {
        std::fprintf(stderr, "%s: no real-time class (%s): the host may outrun the device\n", program,
                     std::strerror(errno));
    }
    const std::string& folder = settings.recordFolder;
    if (!folder.empty() && !sim::TraceOpen(folder + "/trace.txt")) {
        std::fprintf(stderr, "%s: cannot write %s/trace.txt\n", program, folder.c_str());
        return false;
    }
    sim::TraceKeepLines(false);
    return true;
}

void ServeUntilEnded(const char* program, const ControllerSettings& settings, const models::HidDevice& model,
                     const std::vector<std::uint8_t>& descriptor, const ReportTimes& times)
{
    const std::string& folder = settings.recordFolder;
    if (!folder.empty() && !WriteFile(program, folder + "/descriptor.bin", descriptor.data(), descriptor.size()))
        _exit(kControllerFailed);
    std::printf("plugged %04x:%04x\n", settings.vendorId, settings.productId);
    std::fflush(stdout);

    const sigset_t waited = WaitedSignals();
    int signal = 0;
    while (sigwait(&waited, &signal) == 0 && signal == SIGUSR1) {
        if (folder.empty()) continue;
        std::FILE* marks = std::fopen((folder + "/marks.txt").c_str(), "a");
        if (marks == nullptr) continue;
        std::fprintf(marks, "reports=%" PRIu64 " us=%" PRIu64 "\n", times.Reports(), NowUs());
        std::fclose(marks);
    }
    const bool recorded = folder.empty() || WriteRecord(program, folder, model, times);
    sim::TraceClose();
    std::fflush(nullptr);
    _exit(recorded ? 0 : kControllerFailed);
}

}  // namespace rig
