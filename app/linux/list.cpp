#include "app/linux/list.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/linux/access_advice.h"
#include "app/linux/controllers.h"
#include "app/linux/give_back.h"
#include "app/linux/json_text.h"
#include "app/linux/terminal.h"
#include "platform/linux/hidraw.h"

namespace {

constexpr char kNotNeeded[] = "not needed, the program does not write a controller in its normal mode";

// Whether this user may open what the controller needs: its hidraw node, and for a mode whose
// class requests go through usbfs, its USB device's node too; and if not, which node and why.
struct ControllerAccess {
    platform::HidAccess access = platform::HidAccess::Granted;
    std::string refused;  // the node refused
};

ControllerAccess AccessOf(const platform::HidNode& node, const ControllerKind& kind)
{
    ControllerAccess result{platform::HidAccessOf(node.node), node.node};
    if (result.access == platform::HidAccess::Granted && kind.needsUsbDeviceNode && !node.usbDeviceNode.empty()) {
        result = {platform::HidAccessOf(node.usbDeviceNode), node.usbDeviceNode};
    }
    return result;
}

std::string AccessText(const ControllerAccess& access, const ControllerKind& kind)
{
    if (access.access == platform::HidAccess::Granted) return "may open";
    if (kind.state == ControllerState::NormalMode) return std::string("may not open: ") + kNotNeeded;
    return "may not open " + access.refused + ": " + AccessCause(access.access);
}

// One controller as a JSON object.
std::string JsonController(const platform::HidNode& node, const ControllerKind& kind, const ControllerAccess& access)
{
    const bool granted = access.access == platform::HidAccess::Granted;
    const bool update = kind.state == ControllerState::UpdateMode;
    std::string whyNot = "null";
    if (!granted) whyNot = JsonString(update ? AccessCause(access.access) : std::string(kNotNeeded));
    return "{\"node\": " + JsonString(node.node) + ", \"ids\": " + JsonString(IdsText(node.vendorId, node.productId)) +
           ", \"name\": " + JsonString(node.name) + ", \"state\": " + (update ? "\"update mode\"" : "\"normal mode\"") +
           ", \"mode\": " + (update ? std::to_string(kind.mode) : std::string("null")) +
           ", \"may_open\": " + (granted ? "true" : "false") +
           ", \"refused_node\": " + (granted ? std::string("null") : JsonString(access.refused)) +
           ", \"why_not\": " + whyNot + "}";
}

}  // namespace

int RunList(bool json)
{
    // A controller that an interrupted download left without its driver is listed once it is back.
    GiveBackDriverless(true);
    std::vector<platform::HidNode> nodes;
    if (!platform::HidEnumerateNodes(nodes)) {
        TerminalNotice("udev cannot be asked for the HID nodes");
        return 1;
    }
    std::vector<std::string> objects;
    int listed = 0;
    for (const platform::HidNode& node : nodes) {
        const ControllerKind kind = KindOfController(node.vendorId, node.productId);
        if (kind.state == ControllerState::Unknown) continue;
        ++listed;
        const ControllerAccess access = AccessOf(node, kind);
        if (json) {
            objects.push_back(JsonController(node, kind, access));
        } else {
            std::printf("%-14s %s  %-13s  %s\n", node.node.c_str(), IdsText(node.vendorId, node.productId).c_str(),
                        ControllerStateText(kind).c_str(), AccessText(access, kind).c_str());
        }
    }
    if (json) {
        std::string document = "{\"controllers\": [";
        for (std::size_t i = 0; i < objects.size(); ++i) document += (i == 0 ? "\n  " : ",\n  ") + objects[i];
        document += objects.empty() ? "]}\n" : "\n]}\n";
        std::fputs(document.c_str(), stdout);
    }
    std::fflush(stdout);
    if (listed == 0) TerminalNotice("no controller that this program knows is plugged in");
    return 0;
}
