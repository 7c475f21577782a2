// oskel-update --list: the controllers this program knows that are plugged in.
#pragma once

// One line per controller on standard output: its node, ids, mode, and whether this user may
// open it (and if not, why); with json, one JSON document instead:
//   {"controllers": [{"node": "/dev/hidraw3", "ids": "2563:1818", "name": "...",
//     "state": "update mode", "mode": 2, "may_open": false, "refused_node": "/dev/hidraw3",
//     "why_not": "..."}, ...]}
// ("state" "normal mode" with "mode" null; "refused_node" and "why_not" null when it may open).
// Returns the exit status: 0, or 1 when udev cannot be asked (nothing on standard output then).
int RunList(bool json);
