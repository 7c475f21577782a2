// What the Linux program needs of its HID backend beyond the seam (platform/hid.h): the hidraw
// nodes with the interface paths of their top-level collections, the arrivals that udev
// announces, the one controller the user chose, and who may open a node. Why a read-write open
// failed comes back with the open (platform/outcome.h: Denied, Held, and the node).
//
// An interface path names one top-level collection of a hidraw node, as Windows makes one
// interface per collection: the node, then "#vid_VVVV&pid_PPPP&colCC" (lower-case hexadecimal,
// collection number from 01), for example "/dev/hidraw3#vid_2563&pid_1818&col02".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/types.h"

namespace platform {

// One hidraw node and the interface paths of its top-level collections, in descriptor order.
struct HidNode {
    std::string node;      // "/dev/hidraw3"
    std::string instance;  // the node's sysfs path: it names one device plugged in, once
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::vector<std::string> interfacePaths;
    std::string usbDeviceNode;  // its USB device's usbfs node ("/dev/bus/usb/001/004"); "" off USB
    std::string name;           // the device's own name (HID_NAME: on USB its strings), at most 256 bytes
};

// Every present hidraw node (of the chosen controller, when one is chosen), by node number.
// False when udev cannot be asked at all.
bool HidEnumerateNodes(std::vector<HidNode>& nodes);

// The one controller to consider, by its ids or by its node: from then on the enumeration, and
// so the finders, and the arrivals see no other.
struct HidDeviceChoice {
    bool byIds = false;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string node;  // "/dev/hidraw3", when not by ids
};
void HidChooseDevice(const HidDeviceChoice& choice);
// Whether a controller of these ids that has no node is one to consider: none was chosen, or it
// was chosen by these ids (one chosen by its node is a node that exists).
bool HidIdsChosen(std::uint16_t vendorId, std::uint16_t productId);
// The node of an open handle ("/dev/hidraw3"); "" for a handle that is not open.
std::string HidNodeOf(DeviceHandle handle);
// Whether path is a hidraw node: a character device whose sysfs class is "hidraw".
bool HidIsHidrawNode(const std::string& path);

// Whether this user may open a device node for reading and writing, and if not, why, as far as
// the system tells it without opening the node.
enum class HidAccess {
    Granted,
    NoRules,          // the node carries no "uaccess" tag and the project's rules are not installed
    RulesNotApplied,  // the rules are installed, but were not applied to this node yet
    NotSeatSession,   // tagged, but this user is not the user of the active session at its seat
    Denied,           // tagged, in the active session at its seat, and still refused
    NotUsb,           // untagged, and off USB (Bluetooth, I2C, virtual), where the rules name nothing
};
HidAccess HidAccessOf(const std::string& node);
// The name of the project's rules file, "70-oskel-update.rules".
extern const char kHidRulesFile[];

// Arrivals of hidraw nodes, as udev announces them once its rules have been applied (so the
// node's permissions are set): source "udev", subsystem "hidraw".
// Whether udev's announcements can be heard here: a udev daemon runs (its control socket,
// /run/udev/control, which libudev itself looks for, exists). Without one (a container, some
// sandboxes) libudev's monitor subscribes to nothing; false then, with the reason.
bool HidArrivalsSeen(std::string& error);
// Opens the monitor; false, with the reason, when udev cannot be reached.
bool HidArrivalMonitorOpen(std::string& error);
// The descriptor to poll for readability.
int HidArrivalMonitorFd();
// The nodes that have arrived since the last call (non-blocking). Left out: removals, other
// controllers than the chosen one, and the nodes that come back on a USB interface whose node
// this process has listed or seen arrive before, still plugged in (the address changes when a
// device is plugged in again): usbhid has it again after a download of mode 1 that took it
// (this process's or another program's, platform/linux/hid_usb.h), which is no controller
// plugged in.
std::vector<HidNode> HidArrivalMonitorReceive();
void HidArrivalMonitorClose();

}  // namespace platform
