// The log of the USB requests of one topology walk, written alike by the rig's driver (what
// reached it through Wine's I/O path) and by the walk over the simulated tree (what the
// simulated driver saw), so that the two compare byte for byte. One event per line:
//
//   open ok|fail PATH
//   request ok|fail|pending CODE IN-HEX OUT-SIZE OUT-HEX PATH
//   cancel ended|ignored PATH
//   cleanup ended PATH
//   close PATH
//
// CODE is the I/O control code (0x220408 and so on); IN-HEX the input record and OUT-HEX the
// bytes returned, in lowercase hexadecimal, "-" for none; OUT-SIZE the caller's output buffer
// size in bytes; PATH the node as opened ("\\.\HCD0", "\\.\" plus a hub's name), last because a
// hub's name may hold spaces. A pending request is one that its node never answers; only the
// rig's driver writes what became of it: its cancel routine ended it or left it pending, or the
// node's cleanup ended it. Lines starting with "#" are notes.
#pragma once

#include <string>

#include "sim/usb_tree.h"

inline constexpr const char* kRequestLogHeader = "# oskel-usb-requests 1";

std::string RequestLogLine(const sim::UsbRequestRecord& record);
std::string OpenLogLine(const std::string& path, bool opened);
std::string CloseLogLine(const std::string& path);
std::string CancelLogLine(const std::string& path, bool ended);
std::string CleanupLogLine(const std::string& path);
