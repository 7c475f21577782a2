// oskel-update --list: the controllers this program knows that are plugged in.
#pragma once

// One line per controller on standard output: its node, ids, mode, and whether this user may
// open it (and if not, why). Returns the exit status: 0, or 1 when udev cannot be asked.
int RunList();
