// Keeps the session from ending while a download runs, and holds off what would end it.
// - The signals that would end or stop the program (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP)
//   wait in a signal descriptor instead.
// - Where logind (systemd-logind or elogind) runs: a lock in "block" mode for sleep, shutdown and
//   the keys and lid switch that would start them (as fwupd takes it), which holds against every
//   other user; and locks in "delay" mode for sleep and for shutdown, which hold this user too:
//   logind up to systemd 256, and elogind, let a caller's own block locks pass when that caller
//   asks to suspend or power off, and the desktop (GNOME, KDE, Steam) asks so as the same user for
//   the lid, the Suspend menu or a game launcher's sleep. A delay lock holds such a sleep for
//   logind's delay (InhibitDelayMaxUSec, 5 s by default) after logind has announced it
//   (PrepareForSleep, PrepareForShutdown), in which the download ends (app/linux/system_sleep.h).
// - Where a desktop portal runs on the user's session bus: its inhibition of suspend and logout
//   (org.freedesktop.portal.Inhibit), which GNOME and KDE honour and show.
#pragma once

#include <poll.h>

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// "Firmware update in progress. Do not turn off the computer or unplug the controller."
extern const char kSessionGuardReason[];

// Blocks those signals in the calling thread (call it before any other thread starts, so that
// every thread inherits the mask) and opens the descriptor they are read from. A signal that the
// caller ignored (nohup ignores SIGHUP; a shell ignores SIGINT and SIGQUIT for a job it starts
// in the background) stays ignored. SIGPIPE is ignored: a closed standard output must not end a
// download. False when the descriptor cannot be had; the signals then keep their effect.
bool SessionSignalsHold();
// The descriptor to poll; -1 when there is none.
int SessionSignalFd();
// The next signal that arrived, or 0 when none is waiting.
int SessionTakeSignal();
// Ends the process by that signal, with its default action, as if it had not been held: so that
// the caller (a shell, a script) sees that the program ended by it. Returns only where that action
// does not end a process.
void SessionEndBySignal(int number);

// The download starts: logind's locks and the portal's inhibition are taken where they can be
// had. What cannot be had comes back, each as what is not held and why, for instance
// "sleep, shutdown and the lid (no system bus: No such file or directory)".
std::vector<std::string> SessionGuardEngage();
// The download has ended: the locks and the inhibition are let go (from any thread).
void SessionGuardRelease();

// What logind announces on the system bus, which the program listens to from its start (so that
// it hears a sleep that comes between two downloads, and the resume).
enum class SystemTransition {
    None,
    SleepComing,     // PrepareForSleep(true)
    ShutdownComing,  // PrepareForShutdown(true)
    Resumed,         // PrepareForSleep(false), or PrepareForShutdown(false): the shutdown was called off
};
// Opens the system bus and listens; nothing when there is none (the first download says so).
void SessionWatchOpen();
// The descriptors to poll for what the buses bring.
void SessionWatchPollFds(std::vector<pollfd>& fds);
// Takes what has arrived on the buses (without waiting): the last transition announced, or None;
// and, into notHeld, what the desktop portal has refused since.
SystemTransition SessionWatchTake(std::vector<std::string>& notHeld);
// How long logind waits for the delay locks once it has announced a sleep or a shutdown, as it
// said at the start of this download (logind's default, 5 s, where it did not say).
std::uint64_t SessionDelayUs();

}  // namespace platform
