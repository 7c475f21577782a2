// Starts a download when a device in an update mode arrives.
#pragma once

#include <cstdint>
#include <string>

#include "device/interface_broadcast.h"

inline constexpr std::uint32_t kDbtDeviceArrival = 0x8000;
inline constexpr std::uint32_t kDbtDeviceRemoveComplete = 0x8004;
inline constexpr std::uint32_t kDbtDevNodesChanged = 0x0007;

// What the watcher decided about one notification; the dialog acts on it.
enum class ArrivalAction {
    None,                  // nothing to do
    StartDownload,         // the device is open, the image loaded, the download state set: start the worker
    ReportFailedDownload,  // the device is open but its image could not be loaded: tell the user
};

struct ArrivalDecision {
    ArrivalAction action = ArrivalAction::None;
};

// One HID interface has arrived, named by its device path: counts the arrival, writes its line,
// lowercases the path, and for a device in an update mode opens it with the mode's finder and
// loads its image. Every front end calls this, whatever tells it of arrivals.
ArrivalDecision HandleInterfaceArrival(const std::string& interfacePath);

// WM_DEVICECHANGE: an arrival event with the device-interface broadcast record as the system
// delivers it (its first 32-bit field is its size; the name, in the ANSI or the wide (UTF-16)
// layout, is read and lowercased in place only within that size), handed to
// HandleInterfaceArrival. Any other event is nothing to do.
ArrivalDecision HandleDeviceArrival(std::uint32_t event, void* record);
