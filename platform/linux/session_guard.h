// Keeps the session from ending while a download runs: the signals that would end or stop the
// program (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP) wait in a signal descriptor instead, and
// where systemd-logind runs, an inhibitor in "block" mode is held for sleep, shutdown and the
// keys and lid switch that would start them (as fwupd takes it).
#pragma once

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

// The download starts: the logind inhibitor is taken where logind answers.
void SessionGuardEngage();
// The download has ended: the inhibitor is let go.
void SessionGuardRelease();

}  // namespace platform
