// What the Linux program needs of its HID backend beyond the seam (platform/hid.h): the hidraw
// nodes with the interface paths of their top-level collections, the arrivals that udev
// announces, and why a read-write open failed.
//
// An interface path names one top-level collection of a hidraw node, as Windows makes one
// interface per collection: the node, then "#vid_VVVV&pid_PPPP&colCC" (lower-case hexadecimal,
// collection number from 01), for example "/dev/hidraw3#vid_2563&pid_1818&col02".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// One hidraw node and the interface paths of its top-level collections, in descriptor order.
struct HidNode {
    std::string node;      // "/dev/hidraw3"
    std::string instance;  // the node's sysfs path: it names one device plugged in, once
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::vector<std::string> interfacePaths;
};

// Every present hidraw node, by node number. False when udev cannot be asked at all.
bool HidEnumerateNodes(std::vector<HidNode>& nodes);

// Why read-write opens failed since the last call, oldest first.
enum class HidOpenProblem {
    NoAccess,              // the user may not open the node (no udev rule, or not logged in)
    HeldByAnotherProgram,  // another program writes to the controller
    Other,                 // the node went away, or the system refused it otherwise
};
struct HidOpenFailure {
    std::string node;
    HidOpenProblem problem = HidOpenProblem::Other;
    std::string reason;  // the system's error text
};
std::vector<HidOpenFailure> HidTakeOpenFailures();

// Arrivals of hidraw nodes, as udev announces them once its rules have been applied (so the
// node's permissions are set): source "udev", subsystem "hidraw".
// Opens the monitor; false, with the reason, when udev cannot be reached.
bool HidArrivalMonitorOpen(std::string& error);
// The descriptor to poll for readability.
int HidArrivalMonitorFd();
// The nodes that have arrived since the last call (non-blocking; removals are left out).
std::vector<HidNode> HidArrivalMonitorReceive();
void HidArrivalMonitorClose();

}  // namespace platform
