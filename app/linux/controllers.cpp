#include "app/linux/controllers.h"

#include <cstdio>

#include "device/device_link.h"
#include "state/download_modes.h"

ControllerKind KindOfController(std::uint16_t vendorId, std::uint16_t productId)
{
    if (const DownloadModeFacts* facts = ModeOfDevice(vendorId, productId)) {
        // Protocol 1 sends its reports as set-output and get-input requests, which go on a USB
        // controller's control endpoint through its usbfs node.
        return {ControllerState::UpdateMode, facts->mode, facts->transfer == Transfer::Protocol1};
    }
    const DeviceLink defaults;
    if ((vendorId == defaults.expectedVendorId && productId == defaults.expectedProductId) ||
        IsInSupportedDeviceTable(vendorId, productId)) {
        return {ControllerState::NormalMode, 0, false};
    }
    return {};
}

std::string ControllerStateText(const ControllerKind& kind)
{
    switch (kind.state) {
    case ControllerState::UpdateMode: return "update mode " + std::to_string(kind.mode);
    case ControllerState::NormalMode: return "normal mode";
    case ControllerState::Unknown: break;
    }
    return "unknown";
}

std::string IdsText(std::uint16_t vendorId, std::uint16_t productId)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04x:%04x", vendorId, productId);
    return text;
}

std::string UpdateModesText()
{
    std::string text;
    for (const DownloadModeFacts& facts : kDownloadModes) {
        if (!text.empty()) text += "    ";
        text += "mode " + std::to_string(facts.mode) + ": " + IdsText(facts.vendorId, facts.productId);
    }
    return text;
}
