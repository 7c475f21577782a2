// The walk over USB host controllers, hubs and ports.
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"
#include "platform/usb.h"

// The walk runs on the user-interface thread inside Start, so a hub or device that never
// answers must not hold the dialog: every request waits at most kUsbRequestLimitMs, and once
// kUsbWalkBudgetMs have passed since the walk began it sends no further request and opens no
// further node; it closes what it holds and returns.
//
// The hub driver answers most requests from what it knows of its ports; a descriptor request
// becomes a control transfer to the device, which must return the first data of a standard
// request within 500 ms (USB 2.0, 9.2.6.4). Twice that leaves room for the hub driver's own
// scheduling and a device that resumes from suspend first.
inline constexpr std::uint32_t kUsbRequestLimitMs = 1000;
// A request's time limit never reaches past the budget, but a request whose cancellation does
// not end it may take the cancel grace time beyond it.
inline constexpr std::uint32_t kUsbWalkBudgetMs = 3500;
inline constexpr std::uint32_t kUsbWalkLongestMs = kUsbWalkBudgetMs + platform::kUsbCancelGraceMs;
// Windows marks a window "Not Responding" once it has not taken its messages for 5 s. The
// longest walk leaves room within that for closing the nodes still open.
inline constexpr std::uint32_t kWindowNotRespondingMs = 5000;
inline constexpr std::uint32_t kClosingRoomMs = 500;
static_assert(kUsbWalkLongestMs + kClosingRoomMs <= kWindowNotRespondingMs);

// Visits every host controller "\\.\HCD0" to "\\.\HCD9", its root hub and, depth first, every
// hub below it, and asks each connected device that names any string for its identification
// string (index 0xFF, language 0x0036). Sets downloadState.TopologyMatchFlag when one of them
// carries "rq4180" or "DRIM UPDATA2" in any case; never clears it. Bounded in time as above: a
// walk cut short by its budget leaves the flag as far as it got.
void UsbTopologyWalk();

// Whether the last walk ran out of its budget before it had visited everything.
bool UsbWalkRanOutOfTime();

// What the last open or request that failed met, for diagnostics: the operation (the open of a
// path, or a request's I/O control code) and the system's error text, or how the time limit ended
// it. Empty when nothing failed since the last walk began.
std::string UsbWalkLastFailure();

// Examines ports 1 to portCount of an open hub.
void WalkHubPorts(platform::DeviceHandle hub, std::uint32_t portCount);

// Opens the hub with this name (as reported for a port), reads its node information and walks
// its ports. Takes over the name: it is a block from WideToAnsi and is released here.
void WalkExternalHub(char* hubName);

// Reads the connection information of a port into a 365-byte record of the newer form; when the
// newer request fails, the older one is asked and copied into it field by field (Speed 0 for a
// low-speed device, 1 otherwise). False when neither can be read.
bool ReadPortConnection(platform::DeviceHandle hub, std::uint32_t port, std::uint8_t* connection);

// The ANSI code page form of a NUL-terminated UTF-16 text in a new zero-filled global-heap
// block, or null. The caller releases it with platform::GlobalBlockFree.
char* WideToAnsi(const char16_t* text);
