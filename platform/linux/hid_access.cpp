// Who may open a controller's node, and why not, without opening it: the project's udev rules
// tag the nodes of the update-mode controllers "uaccess", and systemd-logind gives a tagged node
// to the user of the active session at a seat (an access control entry on the node).
#include <sys/stat.h>
#include <systemd/sd-login.h>
#include <unistd.h>

#include <cstdlib>
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

// Whether udev tagged the node "uaccess" (the project's rules did, for a controller they name).
bool TaggedForSeat(const std::string& node)
{
    struct stat status {};
    if (stat(node.c_str(), &status) != 0 || !S_ISCHR(status.st_mode) || UdevContext() == nullptr) return false;
    udev_device* device = udev_device_new_from_devnum(UdevContext(), 'c', status.st_rdev);
    if (device == nullptr) return false;
    const bool tagged = udev_device_has_tag(device, "uaccess") > 0;
    udev_device_unref(device);
    return tagged;
}

// Whether this user is the user of the active session at some seat, to whom logind gives the
// tagged nodes.
bool ActiveAtSeat()
{
    char** seats = nullptr;
    const int count = sd_uid_get_seats(getuid(), 1, &seats);
    if (seats != nullptr) {
        for (char** seat = seats; *seat != nullptr; ++seat) std::free(*seat);
        std::free(seats);
    }
    return count > 0;
}

}  // namespace

HidAccess HidAccessOf(const std::string& node)
{
    if (access(node.c_str(), R_OK | W_OK) == 0) return HidAccess::Granted;
    if (!TaggedForSeat(node)) return RulesInstalled() ? HidAccess::RulesNotApplied : HidAccess::NoRules;
    return ActiveAtSeat() ? HidAccess::Denied : HidAccess::NotSeatSession;
}

}  // namespace platform
