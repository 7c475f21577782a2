// What the terminal program knows of a controller by its ids (the table of modes,
// state/download_modes.h, and the supported controllers of device/device_link.h): which update
// mode it is in, or whether it is a supported controller in its normal mode. The finders and the
// watcher decide what is downloaded; this is for what the program tells the user (--list, the
// notices) and for the access it needs.
#pragma once

#include <cstdint>
#include <string>

enum class ControllerState {
    Unknown,     // not a controller of this program
    NormalMode,  // a supported controller in its normal mode: found and named, never written
    UpdateMode,  // in update mode 1, 2 or 3: the program writes it
};

struct ControllerKind {
    ControllerState state = ControllerState::Unknown;
    int mode = 0;  // 1, 2 or 3 in an update mode
    // The mode's set-output and get-input requests go on a USB controller's control endpoint
    // through its usbfs node, which the user must be able to open too.
    bool needsUsbDeviceNode = false;
};

ControllerKind KindOfController(std::uint16_t vendorId, std::uint16_t productId);

// "update mode 2", "normal mode".
std::string ControllerStateText(const ControllerKind& kind);

// "2563:1818"
std::string IdsText(std::uint16_t vendorId, std::uint16_t productId);

// "mode 1: 2563:0059    mode 2: 2563:1818    mode 3: 0461:4d81", from the table of modes.
std::string UpdateModesText();
