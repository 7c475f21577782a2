// The walk over USB host controllers, hubs and ports.
#pragma once

#include <cstdint>

#include "platform/types.h"

// Visits every host controller "\\.\HCD0" to "\\.\HCD9", its root hub and, depth first, every
// hub below it, and asks each connected device that names any string for its identification
// string (index 0xFF, language 0x0036). Sets downloadState.TopologyMatchFlag when one of them
// carries "rq4180" or "DRIM UPDATA2" in any case; never clears it.
void UsbTopologyWalk();

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
