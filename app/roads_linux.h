// The two roads to a download in the terminal program; each returns the exit status.
#pragma once

// "Start" once: modes 2 and 3.
int RunStartRoad();

// The arrival road: every HID node present is announced as if it had just arrived, then each
// one that udev announces, until a signal ends the program (or, with once, until the first
// download has ended).
int RunArrivalRoad(bool once);
