// The HID class requests on endpoint 0 of a USB controller, through usbfs (libusb).
//
// The Windows program's HidD_SetOutputReport is a SET_REPORT(Output) request on the control
// endpoint, and HidD_GetInputReport a GET_REPORT(Input). hidraw's HIDIOCSOUTPUT goes over the
// interrupt OUT endpoint instead whenever the interface has one (usbhid decides), which a
// controller that reads output reports from endpoint 0 only never sees. So for a USB controller
// the backend sends these requests itself: it takes the interface from its driver (usbhid, whose
// hidraw node goes away meanwhile) and claims it in one step (libusb's automatic detach:
// USBDEVFS_DISCONNECT_CLAIM), and gives it back to the driver once the download's outcome is
// shown (UsbGiveBackInterfaces), after a failure, a stall or an unplug too: its release lets the
// kernel's drivers bind it again (USBDEVFS_CONNECT). A process that is killed gives nothing back:
// the kernel releases the interface with the usbfs descriptor but binds no driver to it, and the
// program's next start gives it back (platform/linux/usb_driverless.h). The report-id byte
// travels as usbhid sends it: not at all for id 0, in byte 0 of the data otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/outcome.h"

namespace platform {

// Where a hidraw node's HID device sits on USB, as sysfs tells anyone (no access needed).
struct UsbPlace {
    bool usb = false;               // false: another transport (uhid, Bluetooth, I2C)
    std::uint16_t bus = 0;
    std::uint8_t address = 0;
    std::uint8_t interfaceNumber = 0;
    std::uint16_t vendorId = 0;     // the USB device's
    std::uint16_t productId = 0;
    bool interruptOut = false;      // the interface has an interrupt OUT endpoint
    std::string deviceNode;         // "/dev/bus/usb/001/004"
};
// The place of a hidraw node ("/dev/hidraw3"): usb false when it is not on USB or unknown.
UsbPlace ReadUsbPlace(const std::string& hidrawNode);

enum class UsbClassRequest { SetOutputReport, GetInputReport };

// One request on the interface of place, claimed for it first if this process has not claimed
// it yet. report as the seam gives it (byte 0 the report id); for GetInputReport the reply
// replaces it and the rest is zeroed. Bounded by timeLimitMs (libusb's transfer timeout). A claim
// that fails because the device's node cannot be opened (Denied: this user may not) or another
// program holds the interface (Held) names the node.
Outcome UsbRequest(const UsbPlace& place, UsbClassRequest request, std::uint8_t* report, std::size_t length,
                   std::uint32_t timeLimitMs);

// An interface that could not be given back: usbhid's probe failed (a controller that answers
// nothing any more), or the kernel refused. The controller stays without its driver, and so
// without a hidraw node, until it is plugged in again.
struct UsbNotGivenBack {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string deviceNode;  // "/dev/bus/usb/001/004"
    std::string reason;
};

// Whether this process holds a claimed interface that is still to be given back.
bool UsbInterfacesClaimed();

// Every interface this process claimed is released, and the kernel's drivers bind it again; this
// waits for usbhid's probe (some 30 s for a controller that answers nothing). What stays without
// a driver comes back; a device unplugged meanwhile has nothing to give back and is not among it.
std::vector<UsbNotGivenBack> UsbGiveBackInterfaces();

}  // namespace platform
