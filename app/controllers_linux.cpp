#include "app/controllers_linux.h"

#include <cstdio>

#include "device/device_link.h"

namespace {

// The update modes' devices (the finders of device/device_link.cpp accept the same ids).
struct UpdateModeDevice {
    int mode;
    std::uint16_t vendorId;
    std::uint16_t productId;
    bool needsUsbDeviceNode;
};
constexpr UpdateModeDevice kUpdateModeDevices[] = {
    {1, 0x2563, 0x0059, true},
    {2, 0x2563, 0x1818, false},
    {3, 0x0461, 0x4D81, false},
};

}  // namespace

ControllerKind KindOfController(std::uint16_t vendorId, std::uint16_t productId)
{
    for (const UpdateModeDevice& device : kUpdateModeDevices) {
        if (device.vendorId == vendorId && device.productId == productId) {
            return {ControllerState::UpdateMode, device.mode, device.needsUsbDeviceNode};
        }
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
