#include "platform/linux/session_guard.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/system.h"

namespace platform {

const char kSessionGuardReason[] =
    "Firmware update in progress. Do not turn off the computer or unplug the controller.";

namespace {

constexpr int kHeldSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};

// logind's inhibitor call (org.freedesktop.login1.Manager.Inhibit): what, who, why, mode. The
// keys and the lid switch too, as fwupd blocks them: a lid closed mid-download must not suspend
// the machine. Where the user may not inhibit those (polkit), sleep and shutdown alone.
constexpr const char kLogindService[] = "org.freedesktop.login1";
constexpr const char kLogindPath[] = "/org/freedesktop/login1";
constexpr const char kLogindManager[] = "org.freedesktop.login1.Manager";
constexpr const char kInhibitWhat[] =
    "sleep:shutdown:handle-lid-switch:handle-power-key:handle-suspend-key:handle-hibernate-key";
constexpr const char kInhibitWhatAtLeast[] = "sleep:shutdown";
constexpr const char kInhibitWho[] = "oskel-update";
constexpr const char kInhibitMode[] = "block";
// A bus that does not answer must not hold the download back for long.
constexpr std::uint64_t kInhibitCallTimeoutUs = 2000000;

int signalFd = -1;
std::mutex inhibitorMutex;
int inhibitorFd = -1;

std::string BusError(int result, const sd_bus_error& error)
{
    if (error.message != nullptr) return error.message;
    return std::strerror(-result);
}

// The inhibitor of what from logind on bus, or -1 with the reason.
int Inhibit(sd_bus* bus, const char* what, std::string& reason)
{
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int fd = -1;
    int result = sd_bus_message_new_method_call(bus, &call, kLogindService, kLogindPath, kLogindManager, "Inhibit");
    if (result >= 0) result = sd_bus_message_append(call, "ssss", what, kInhibitWho, kSessionGuardReason, kInhibitMode);
    if (result >= 0) result = sd_bus_call(bus, call, kInhibitCallTimeoutUs, &error, &reply);
    int received = -1;
    if (result >= 0) result = sd_bus_message_read(reply, "h", &received);
    if (result >= 0) {
        // The reply owns the descriptor it carries: keep a copy of our own.
        fd = fcntl(received, F_DUPFD_CLOEXEC, 3);
        if (fd < 0) result = -errno;
    }
    if (result < 0) reason = BusError(result, error);
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    return fd;
}

// The inhibitor's descriptor from logind, or -1: why in reason, empty where there is no system
// bus (a small system without logind, where the program goes on without the inhibitor).
int TakeInhibitor(std::string& reason)
{
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) return -1;  // no system bus, so no logind: nothing to tell
    int fd = Inhibit(bus, kInhibitWhat, reason);
    if (fd < 0) {
        DebugOutput(("logind: no inhibitor for the keys and the lid switch: " + reason).c_str());
        reason.clear();
        fd = Inhibit(bus, kInhibitWhatAtLeast, reason);
    }
    sd_bus_flush_close_unref(bus);
    return fd;
}

}  // namespace

bool SessionSignalsHold()
{
    signal(SIGPIPE, SIG_IGN);
    sigset_t held;
    sigemptyset(&held);
    for (int number : kHeldSignals) {
        struct sigaction current {};
        if (sigaction(number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        sigaddset(&held, number);
    }
    if (pthread_sigmask(SIG_BLOCK, &held, nullptr) != 0) return false;
    signalFd = signalfd(-1, &held, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signalFd >= 0) return true;
    pthread_sigmask(SIG_UNBLOCK, &held, nullptr);
    return false;
}

int SessionSignalFd() { return signalFd; }

int SessionTakeSignal()
{
    if (signalFd < 0) return 0;
    signalfd_siginfo info{};
    for (;;) {
        const ssize_t got = read(signalFd, &info, sizeof info);
        if (got == static_cast<ssize_t>(sizeof info)) return static_cast<int>(info.ssi_signo);
        if (got < 0 && errno == EINTR) continue;
        return 0;
    }
}

void SessionGuardEngage()
{
    std::string reason;
    const int fd = TakeInhibitor(reason);
    if (fd < 0) {
        if (!reason.empty()) DebugOutput(("logind: no inhibitor: " + reason).c_str());
        return;
    }
    std::lock_guard<std::mutex> lock(inhibitorMutex);
    if (inhibitorFd >= 0) close(inhibitorFd);
    inhibitorFd = fd;
}

void SessionGuardRelease()
{
    std::lock_guard<std::mutex> lock(inhibitorMutex);
    if (inhibitorFd >= 0) close(inhibitorFd);
    inhibitorFd = -1;
}

}  // namespace platform
