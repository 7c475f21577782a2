#include "platform/linux/session_guard.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/linux/loaded_library.h"

namespace platform {

const char kSessionGuardReason[] =
    "Firmware update in progress. Do not turn off the computer or unplug the controller.";

namespace {

constexpr int kHeldSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};

// logind's inhibitor call (org.freedesktop.login1.Manager.Inhibit): what, who, why, mode. The
// block lock takes the keys and the lid switch too, as fwupd does: a lid closed mid-download must
// not suspend the machine. logind asks polkit about a lock of several kinds as if it were for the
// last kind it knows (the lid switch), which a remote login may not hold: where that lock is
// refused, sleep and shutdown are asked for one by one, each under its own polkit action, and the
// delay locks always are.
constexpr const char kLogindService[] = "org.freedesktop.login1";
constexpr const char kLogindPath[] = "/org/freedesktop/login1";
constexpr const char kLogindManager[] = "org.freedesktop.login1.Manager";
constexpr const char kBlockedWithKeys[] =
    "sleep:shutdown:handle-lid-switch:handle-power-key:handle-suspend-key:handle-hibernate-key";
constexpr const char* kEachHeld[] = {"sleep", "shutdown"};
constexpr const char kInhibitWho[] = "oskel-update";
// A bus that does not answer must not hold the download back for long; the portal may have to be
// started by the session bus first.
constexpr std::uint64_t kCallTimeoutUs = 2000000;
constexpr std::uint64_t kPortalTimeoutUs = 3000000;
constexpr std::uint64_t kLogindDefaultDelayUs = 5000000;

// The desktop portal (org.freedesktop.portal.Inhibit on the session bus): suspend (4) and logout
// (1), which also stands for shutdown and restart from the desktop.
constexpr const char kPortalService[] = "org.freedesktop.portal.Desktop";
constexpr const char kPortalPath[] = "/org/freedesktop/portal/desktop";
constexpr const char kPortalInhibit[] = "org.freedesktop.portal.Inhibit";
constexpr const char kPortalRequest[] = "org.freedesktop.portal.Request";
constexpr std::uint32_t kPortalLogoutAndSuspend = 1 | 4;

int signalFd = -1;

// The buses are used by the main loop and, at a download's end, by the worker: one at a time.
std::mutex busMutex;
sd_bus* systemBus = nullptr;  // from SessionWatchOpen on, for the locks and logind's signals
bool systemBusTried = false;
std::string systemBusError;
sd_bus* sessionBus = nullptr;  // from the first download on, for the portal
bool sessionBusTried = false;
std::string sessionBusError;

std::vector<int> locks;          // logind's locks of the running download
std::string portalRequest;       // the portal's inhibition of the running download, by its handle
sd_bus_slot* portalAnswer = nullptr;
unsigned portalRequests = 0;
std::vector<std::string> portalRefusals;
SystemTransition announced = SystemTransition::None;
std::uint64_t delayUs = kLogindDefaultDelayUs;

std::string BusError(int result, const sd_bus_error& error)
{
    if (error.message != nullptr) return error.message;
    return std::strerror(-result);
}

// No logind answers on the bus (none runs, or it does not answer in time): not a refusal.
bool NoLogind(int result, const sd_bus_error& error)
{
    return sd_bus_error_has_name(&error, "org.freedesktop.DBus.Error.ServiceUnknown") ||
           sd_bus_error_has_name(&error, "org.freedesktop.DBus.Error.NameHasNoOwner") ||
           sd_bus_error_has_name(&error, "org.freedesktop.DBus.Error.NoReply") ||
           (error.name != nullptr && std::strncmp(error.name, "org.freedesktop.DBus.Error.Spawn.", 33) == 0) ||
           result == -ETIMEDOUT;
}

// A lock of logind, or -1 with the reason and whether logind answered at all.
int Inhibit(const char* what, const char* mode, std::string& reason, bool& answered)
{
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int fd = -1;
    int result = sd_bus_message_new_method_call(systemBus, &call, kLogindService, kLogindPath, kLogindManager, "Inhibit");
    if (result >= 0) result = sd_bus_message_append(call, "ssss", what, kInhibitWho, kSessionGuardReason, mode);
    if (result >= 0) result = sd_bus_call(systemBus, call, kCallTimeoutUs, &error, &reply);
    int received = -1;
    if (result >= 0) result = sd_bus_message_read(reply, "h", &received);
    if (result >= 0) {
        // The reply owns the descriptor it carries: keep a copy of our own.
        fd = fcntl(received, F_DUPFD_CLOEXEC, 3);
        if (fd < 0) result = -errno;
    }
    if (result < 0) {
        reason = BusError(result, error);
        answered = !NoLogind(result, error);
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    return fd;
}

// Keeps the lock, and tells whether there was one.
bool Keep(int fd)
{
    if (fd >= 0) locks.push_back(fd);
    return fd >= 0;
}

// The delay logind gives the delay locks, as it says now.
void ReadDelay()
{
    std::uint64_t value = 0;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    if (sd_bus_get_property_trivial(systemBus, kLogindService, kLogindPath, kLogindManager, "InhibitDelayMaxUSec",
                                    &error, 't', &value) >= 0 && value > 0) {
        delayUs = value;
    } else {
        delayUs = kLogindDefaultDelayUs;
    }
    sd_bus_error_free(&error);
}

std::string DelayText() { return std::to_string((delayUs + 500000) / 1000000) + " s"; }

void TakeLogindLocks(std::vector<std::string>& notHeld)
{
    std::string reason;
    bool answered = true;
    bool withKeys = Keep(Inhibit(kBlockedWithKeys, "block", reason, answered));
    if (!answered) {
        notHeld.push_back("sleep, shutdown and the lid (logind does not answer on the system bus: " + reason + ")");
        return;
    }
    ReadDelay();
    std::string blockRefused;
    std::string delayRefused;
    bool blocked = withKeys;
    if (!withKeys) {
        blockRefused = reason;
        blocked = true;
        for (const char* what : kEachHeld) blocked = Keep(Inhibit(what, "block", reason, answered)) && blocked;
    }
    bool delayed = true;
    for (const char* what : kEachHeld) {
        if (!Keep(Inhibit(what, "delay", reason, answered))) {
            delayed = false;
            delayRefused = reason;
        }
    }
    if (!blocked && !delayed) {
        notHeld.push_back("sleep, shutdown and the lid (logind refused: " + blockRefused + ")");
    } else if (!blocked) {
        notHeld.push_back("sleep and shutdown beyond logind's delay of " + DelayText() +
                          ", the lid switch and the keys (logind refused: " + blockRefused + ")");
    } else if (!withKeys) {
        notHeld.push_back("the lid switch and the power, suspend and hibernate keys (logind refused: " + blockRefused + ")");
    }
    if (!delayed) {
        notHeld.push_back("sleep and shutdown that this user's own desktop asks for (logind refused the delay lock: " +
                          delayRefused + ")");
    }
}

// ":1.42" becomes "1_42", as the portal names the requests of a caller.
std::string RequestElement(const char* sender)
{
    std::string element;
    for (const char* c = sender; c != nullptr && *c != '\0'; ++c) {
        if (*c != ':') element += *c == '.' ? '_' : *c;
    }
    return element;
}

// The portal's answer to the inhibition: 0 granted, anything else refused.
int OnPortalAnswer(sd_bus_message* message, void*, sd_bus_error*)
{
    std::uint32_t response = 0;
    if (sd_bus_message_read(message, "u", &response) < 0 || response == 0) return 0;
    portalRefusals.push_back("the desktop's suspend and logout (the desktop portal refused the inhibition: response " +
                             std::to_string(response) + ")");
    portalRequest.clear();
    return 0;
}

// Asks the portal to inhibit; the request's handle, or "" with the reason.
std::string PortalInhibit(std::string& reason)
{
    const char* unique = nullptr;
    sd_bus_get_unique_name(sessionBus, &unique);
    const std::string token = "oskel_update_" + std::to_string(++portalRequests);
    const std::string expected = std::string(kPortalPath) + "/request/" + RequestElement(unique) + "/" + token;
    // Listening before the call, so that the answer cannot come before it is listened for.
    sd_bus_match_signal(sessionBus, &portalAnswer, kPortalService, expected.c_str(), kPortalRequest, "Response",
                        OnPortalAnswer, nullptr);
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int result = sd_bus_message_new_method_call(sessionBus, &call, kPortalService, kPortalPath, kPortalInhibit, "Inhibit");
    if (result >= 0) result = sd_bus_message_append(call, "su", "", kPortalLogoutAndSuspend);
    if (result >= 0) {
        result = sd_bus_message_append(call, "a{sv}", 2, "handle_token", "s", token.c_str(), "reason", "s",
                                       kSessionGuardReason);
    }
    if (result >= 0) result = sd_bus_call(sessionBus, call, kPortalTimeoutUs, &error, &reply);
    const char* handle = nullptr;
    if (result >= 0) result = sd_bus_message_read(reply, "o", &handle);
    std::string request = result >= 0 ? handle : "";
    if (result == -ETIMEDOUT) {
        // The portal may still make the request: it is closed at the end all the same.
        reason = "the desktop portal did not answer in time";
        request = expected;
    } else if (result < 0) {
        const bool none = sd_bus_error_has_name(&error, "org.freedesktop.DBus.Error.ServiceUnknown") ||
                          sd_bus_error_has_name(&error, "org.freedesktop.DBus.Error.NameHasNoOwner");
        // A portal whose desktop has no backend for it does not offer the interface.
        const bool without = sd_bus_error_has_name(&error, "org.freedesktop.DBus.Error.UnknownMethod") ||
                             sd_bus_error_has_name(&error, "org.freedesktop.DBus.Error.UnknownInterface") ||
                             sd_bus_error_has_name(&error, "org.freedesktop.DBus.Error.UnknownObject");
        reason = (none      ? "no desktop portal on the session bus: "
                  : without ? "the desktop portal offers no inhibition: "
                            : "the desktop portal refused: ") +
                 BusError(result, error);
        portalAnswer = sd_bus_slot_unref(portalAnswer);
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    return request;
}

void TakePortal(std::vector<std::string>& notHeld)
{
    if (!sessionBusTried) {
        sessionBusTried = true;
        const int result = sd_bus_open_user(&sessionBus);
        if (result < 0) {
            sessionBus = nullptr;
            // sd-bus finds the session bus by these two; a program run outside the desktop's
            // session (ssh, sudo, a service) has neither.
            sessionBusError = result == -ENOMEDIUM ? "neither DBUS_SESSION_BUS_ADDRESS nor XDG_RUNTIME_DIR is set"
                                                   : std::strerror(-result);
        }
    }
    if (sessionBus == nullptr) {
        notHeld.push_back("the desktop's suspend and logout (no session bus: " + sessionBusError + ")");
        return;
    }
    std::string reason;
    portalRequest = PortalInhibit(reason);
    if (!reason.empty()) notHeld.push_back("the desktop's suspend and logout (" + reason + ")");
}

// logind's announcements: PrepareForSleep(b) and PrepareForShutdown(b).
int OnPrepare(sd_bus_message* message, void* sleep, sd_bus_error*)
{
    int coming = 0;
    if (sd_bus_message_read(message, "b", &coming) < 0) return 0;
    if (!coming) announced = SystemTransition::Resumed;
    else announced = sleep != nullptr ? SystemTransition::SleepComing : SystemTransition::ShutdownComing;
    return 0;
}

void OpenSystemBus()
{
    if (systemBusTried) return;
    systemBusTried = true;
    const int result = sd_bus_open_system(&systemBus);
    if (result < 0) {
        systemBus = nullptr;
        const char* address = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
        systemBusError = std::string(address != nullptr ? address : "unix:path=/run/dbus/system_bus_socket") + ": " +
                         std::strerror(-result);
        return;
    }
    static char sleep = 0;
    sd_bus_match_signal(systemBus, nullptr, kLogindService, kLogindPath, kLogindManager, "PrepareForSleep", OnPrepare,
                        &sleep);
    sd_bus_match_signal(systemBus, nullptr, kLogindService, kLogindPath, kLogindManager, "PrepareForShutdown",
                        OnPrepare, nullptr);
}

// Reads what the bus brought, without waiting; false when the connection is gone.
bool Process(sd_bus*& bus)
{
    if (bus == nullptr) return false;
    int result;
    while ((result = sd_bus_process(bus, nullptr)) > 0) {
    }
    if (result >= 0) return true;
    bus = sd_bus_flush_close_unref(bus);
    return false;
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

void SessionEndBySignal(int number)
{
    std::fflush(nullptr);
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(number, &action, nullptr);
    // Sent to this thread, in which it is held: it is delivered, with its default action, as soon
    // as it is let through.
    raise(number);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, number);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
}

std::vector<std::string> SessionGuardEngage()
{
    std::lock_guard<std::mutex> lock(busMutex);
    std::vector<std::string> notHeld;
    const LoadedLibrary& systemd = SystemdLibrary();
    if (systemd.handle == nullptr) {
        // sd-bus, which reaches logind and the desktop portal, comes with either library.
        notHeld.push_back("sleep, shutdown and the lid, and the desktop's suspend and logout (neither "
                          "libsystemd.so.0 nor libelogind.so.0 is on this system)");
        return notHeld;
    }
    OpenSystemBus();
    if (systemBus == nullptr) {
        notHeld.push_back("sleep, shutdown and the lid (no system bus at " + systemBusError + ")");
    } else {
        TakeLogindLocks(notHeld);
    }
    TakePortal(notHeld);
    return notHeld;
}

void SessionGuardRelease()
{
    std::lock_guard<std::mutex> lock(busMutex);
    for (int fd : locks) close(fd);
    locks.clear();
    if (sessionBus != nullptr && !portalRequest.empty()) {
        // Without waiting for the answer: the portal ends the inhibition on Close.
        sd_bus_message* call = nullptr;
        if (sd_bus_message_new_method_call(sessionBus, &call, kPortalService, portalRequest.c_str(), kPortalRequest,
                                           "Close") >= 0 &&
            sd_bus_message_set_expect_reply(call, 0) >= 0) {
            sd_bus_send(sessionBus, call, nullptr);
            sd_bus_flush(sessionBus);
        }
        sd_bus_message_unref(call);
    }
    portalRequest.clear();
    portalAnswer = sd_bus_slot_unref(portalAnswer);
}

void SessionWatchOpen()
{
    std::lock_guard<std::mutex> lock(busMutex);
    OpenSystemBus();
}

void SessionWatchPollFds(std::vector<pollfd>& fds)
{
    std::lock_guard<std::mutex> lock(busMutex);
    for (sd_bus* bus : {systemBus, sessionBus}) {
        if (bus != nullptr) fds.push_back({sd_bus_get_fd(bus), static_cast<short>(sd_bus_get_events(bus)), 0});
    }
}

SystemTransition SessionWatchTake(std::vector<std::string>& notHeld)
{
    std::lock_guard<std::mutex> lock(busMutex);
    // A connection that broke is opened anew by the next download.
    if (systemBus != nullptr && !Process(systemBus)) systemBusTried = false;
    if (sessionBus != nullptr && !Process(sessionBus)) sessionBusTried = false;
    notHeld.insert(notHeld.end(), portalRefusals.begin(), portalRefusals.end());
    portalRefusals.clear();
    const SystemTransition transition = announced;
    announced = SystemTransition::None;
    return transition;
}

std::uint64_t SessionDelayUs()
{
    std::lock_guard<std::mutex> lock(busMutex);
    return delayUs;
}

}  // namespace platform
