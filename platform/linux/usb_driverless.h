// Controllers in an update mode whose USB interface was left without a driver. A program that
// takes a controller's HID interface from usbhid through usbfs and is killed before it gives it
// back (SIGKILL, a crash, the OOM killer) leaves it so: the kernel releases the interface with
// the program's usbfs descriptor but binds no driver to it, so no hidraw node comes back and the
// controller looks unplugged. The kernel binds usbhid again when asked on the device's usbfs node
// (USBDEVFS_CONNECT), which the project's rules open to the user at the seat for mode 1; the node
// then arrives as for a controller plugged in.
#pragma once

#include <string>
#include <vector>

#include "platform/linux/sysfs_facts.h"

namespace platform {

// An interface as sysfs tells it (sysfs_facts.h): its device's usbfs node, ids and place.
using DriverlessInterface = SysfsUsbInterface;

// The interfaces of HID class, of the USB devices with the ids of an update mode
// (state/download_modes.h), that no driver is bound to, as sysfs tells anyone.
std::vector<DriverlessInterface> UsbFindDriverless();

// Asks the kernel to bind its drivers to the interface, and waits for usbhid's probe. "" when a
// driver has it now (or the device is gone); otherwise why not, for instance "cannot open
// /dev/bus/usb/001/004: Permission denied".
std::string UsbGiveBackDriverless(const DriverlessInterface& interface);

}  // namespace platform
