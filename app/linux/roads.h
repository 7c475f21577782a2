// The roads to a download in the terminal program; each returns the exit status.
#pragma once

// The exit statuses. A signal that ended the program ends it again, with its default action, once
// it has cleaned up (EndingSignal), so that its caller sees that signal: 128 + its number in a
// shell; that is also the status should the signal not end it.
inline constexpr int kExitSucceeded = 0;      // a download succeeded (--wait: every one that ran)
inline constexpr int kExitFailed = 1;         // a download failed, or a controller in an update mode was
                                              // found and not updated (not opened, or in mode 1 on Start)
inline constexpr int kExitCouldNotRun = 1;    // the road cannot run here (udev cannot be asked or heard)
inline constexpr int kExitUsage = 2;          // bad usage
inline constexpr int kExitNoController = 3;   // no controller in an update mode was found (Start)
inline constexpr int kExitSignalBase = 128;

// The first signal that asked the program to end (SIGINT, SIGTERM, SIGHUP, SIGQUIT), or 0.
int EndingSignal();

// "Start" once: modes 2 and 3, past a supported controller in its normal mode.
int RunStartRoad();

// The arrival road: every HID node present is announced as if it had just arrived, then each
// one that udev announces, until a signal ends the program (or, with once, until the first
// download has ended); ended by a signal, it says how many downloads ran and how they ended.
// Where no udev daemon runs, none would be announced: it says so and ends at once.
int RunArrivalRoad(bool once);
