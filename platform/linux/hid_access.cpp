// Who may open a controller's node, and why not, without opening it: the project's udev rules
// tag the nodes of the update-mode controllers "uaccess", and systemd-logind gives a tagged node
// to the user of the active session at the node's seat (an access control entry on the node).
#include <sys/stat.h>
#include <systemd/sd-login.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>

#include "platform/linux/hid_node.h"
#include "platform/linux/hidraw.h"

namespace platform {

const char kHidRulesFile[] = "70-oskel-update.rules";

namespace {

// Where udev reads rules from (udev(7)), the administrator's folders first.
constexpr const char* kRulesFolders[] = {"/etc/udev/rules.d", "/run/udev/rules.d", "/usr/local/lib/udev/rules.d",
                                         "/usr/lib/udev/rules.d", "/lib/udev/rules.d"};

bool RulesInstalled()
{
    struct stat status {};
    for (const char* folder : kRulesFolders) {
        if (stat((std::string(folder) + "/" + kHidRulesFile).c_str(), &status) == 0) return true;
    }
    return false;
}

// A seat's name as udev gives it (ID_SEAT): logind's own rule, letters, digits, '-' and '_', at
// most 255 bytes, starting "seat".
bool IsSeatName(const std::string& name)
{
    return name.size() > 4 && name.size() <= 255 && name.compare(0, 4, "seat") == 0 &&
           name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_") == std::string::npos;
}

// What udev says of a node: whether it tagged it "uaccess" (the project's rules did, for a
// controller they name), the seat it is at (its ID_SEAT, "seat0" without one, as logind's uaccess
// builtin takes it; "" for a name that is none), and whether a hidraw node's HID device is off USB
// (its HID_ID's bus is not 0003), which the rules do not name.
struct NodeFacts {
    bool tagged = false;
    std::string seat = "seat0";
    bool offUsb = false;
};

NodeFacts FactsOf(const std::string& node)
{
    NodeFacts facts;
    struct stat status {};
    if (stat(node.c_str(), &status) != 0 || !S_ISCHR(status.st_mode) || UdevContext() == nullptr) return facts;
    udev_device* device = udev_device_new_from_devnum(UdevContext(), 'c', status.st_rdev);
    if (device == nullptr) return facts;
    facts.tagged = udev_device_has_tag(device, "uaccess") > 0;
    const char* named = udev_device_get_property_value(device, "ID_SEAT");
    if (named != nullptr && named[0] != '\0') facts.seat = IsSeatName(named) ? named : "";
    udev_device* hid = udev_device_get_parent_with_subsystem_devtype(device, "hid", nullptr);
    const char* id = hid != nullptr ? udev_device_get_property_value(hid, "HID_ID") : nullptr;
    facts.offUsb = id != nullptr && std::strncmp(id, "0003:", 5) != 0;
    udev_device_unref(device);
    return facts;
}

// Whether this user is the user of the active session at the seat, to whom logind gives the nodes
// tagged there.
bool ActiveAtSeat(const std::string& seat)
{
    uid_t active = 0;
    return !seat.empty() && sd_seat_get_active(seat.c_str(), nullptr, &active) >= 0 && active == getuid();
}

}  // namespace

HidAccess HidAccessOf(const std::string& node)
{
    if (access(node.c_str(), R_OK | W_OK) == 0) return HidAccess::Granted;
    const NodeFacts facts = FactsOf(node);
    if (!facts.tagged) {
        if (facts.offUsb) return HidAccess::NotUsb;
        return RulesInstalled() ? HidAccess::RulesNotApplied : HidAccess::NoRules;
    }
    return ActiveAtSeat(facts.seat) ? HidAccess::Denied : HidAccess::NotSeatSession;
}

}  // namespace platform
