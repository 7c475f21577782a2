// The roads to a download in the terminal program; each returns the exit status.
#pragma once

// The exit statuses (besides 128 + the signal's number when a signal ended the program before
// anything was written).
inline constexpr int kExitSucceeded = 0;      // a download succeeded (--wait: every one that ran)
inline constexpr int kExitFailed = 1;         // a download failed, or its controller could not be opened
inline constexpr int kExitUsage = 2;          // bad usage
inline constexpr int kExitNoController = 3;   // no controller in an update mode was found (Start)
inline constexpr int kExitSignalBase = 128;

// "Start" once: modes 2 and 3, past a supported controller in its normal mode.
int RunStartRoad();

// The arrival road: every HID node present is announced as if it had just arrived, then each
// one that udev announces, until a signal ends the program (or, with once, until the first
// download has ended).
int RunArrivalRoad(bool once);
