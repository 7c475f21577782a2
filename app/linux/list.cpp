#include "app/linux/list.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/linux/access_advice.h"
#include "app/linux/controllers.h"
#include "app/linux/give_back.h"
#include "app/linux/terminal.h"
#include "platform/linux/hidraw.h"

namespace {

// Whether this user may open what the controller needs: its hidraw node, and for a mode whose
// class requests go through usbfs, its USB device's node too.
std::string AccessText(const platform::HidNode& node, const ControllerKind& kind)
{
    platform::HidAccess access = platform::HidAccessOf(node.node);
    std::string refused = node.node;
    if (access == platform::HidAccess::Granted && kind.needsUsbDeviceNode && !node.usbDeviceNode.empty()) {
        access = platform::HidAccessOf(node.usbDeviceNode);
        refused = node.usbDeviceNode;
    }
    if (access == platform::HidAccess::Granted) return "may open";
    if (kind.state == ControllerState::NormalMode) {
        return "may not open: not needed, the program does not write a controller in its normal mode";
    }
    return "may not open " + refused + ": " + AccessCause(access);
}

}  // namespace

int RunList()
{
    // A controller that an interrupted download left without its driver is listed once it is back.
    GiveBackDriverless(true);
    std::vector<platform::HidNode> nodes;
    if (!platform::HidEnumerateNodes(nodes)) {
        TerminalNotice("udev cannot be asked for the HID nodes");
        return 1;
    }
    int listed = 0;
    for (const platform::HidNode& node : nodes) {
        const ControllerKind kind = KindOfController(node.vendorId, node.productId);
        if (kind.state == ControllerState::Unknown) continue;
        std::printf("%-14s %s  %-13s  %s\n", node.node.c_str(), IdsText(node.vendorId, node.productId).c_str(),
                    ControllerStateText(kind).c_str(), AccessText(node, kind).c_str());
        ++listed;
    }
    std::fflush(stdout);
    if (listed == 0) TerminalNotice("no controller that this program knows is plugged in");
    return 0;
}
