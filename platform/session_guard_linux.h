// Keeps the session from ending while a download runs: the interrupting signals (SIGINT,
// SIGTERM, SIGHUP) wait in a signal descriptor instead of ending the program, and where
// systemd-logind runs, a sleep and shutdown inhibitor in "block" mode is held.
#pragma once

namespace platform {

// "Firmware update in progress. Do not turn off the computer or unplug the controller."
extern const char kSessionGuardReason[];

// Blocks the interrupting signals in the calling thread (call it before any other thread starts,
// so that every thread inherits the mask) and opens the descriptor they are read from. SIGPIPE
// is ignored: a closed standard output must not end a download. False when the descriptor
// cannot be had; the signals then keep their default effect.
bool SessionSignalsHold();
// The descriptor to poll; -1 when there is none.
int SessionSignalFd();
// The next signal that arrived, or 0 when none is waiting.
int SessionTakeSignal();

// The download starts: the logind inhibitor is taken where logind answers.
void SessionGuardEngage();
// The download has ended: the inhibitor is let go.
void SessionGuardRelease();

}  // namespace platform
