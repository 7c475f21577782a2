// A controller's USB interface back to the system (usbhid, whose hidraw node then comes back):
// after a download of mode 1, which took it, and at the start, for a controller that a program
// killed in its download left without a driver (platform/linux/usb_driverless.h).
#pragma once

// After a download: once its outcome is shown, the USB interfaces that its transfer took from
// usbhid go back, with the line "giving the controller back to the system" first, as usbhid's
// probe of a controller that answers nothing takes some 30 s; for one that stays without its
// driver, the line that says to unplug it and plug it in again. The session guard, held for them,
// is let go then. Signals that come meanwhile wait in the signal descriptor for the road.
void GiveBackAfterDownload();

// At the start: every controller in an update mode (the chosen one, with --device) whose USB
// interface has no driver is given back, with a line that names it; where that cannot be done,
// the line says to unplug it and plug it in again. Its node then arrives as for a controller
// plugged in. With waitForNodes, this waits until udev has announced the nodes that came back (at
// most a few seconds), so that what lists or searches the nodes next finds them.
void GiveBackDriverless(bool waitForNodes);
