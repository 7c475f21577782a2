#include "app/linux/access_advice.h"

std::string AccessCause(platform::HidAccess access)
{
    switch (access) {
    case platform::HidAccess::Granted: return "access granted";
    case platform::HidAccess::NoRules: return std::string("the udev rules (") + platform::kHidRulesFile + ") are not installed";
    case platform::HidAccess::RulesNotApplied: return "the udev rules are installed but not applied to it yet";
    case platform::HidAccess::NotSeatSession: return "this user is not the user of the active session at the seat";
    case platform::HidAccess::Denied: return "the system refuses it although the rules apply to this session";
    case platform::HidAccess::NotUsb: return "the udev rules give the controllers on USB only, and this device is not on USB";
    }
    return "refused";
}

std::string AccessAdvice(platform::HidAccess access, const std::string& node)
{
    const std::string cause = AccessCause(access);
    switch (access) {
    case platform::HidAccess::NoRules:
        return cause + ": install the package, or " + platform::kHidRulesFile +
               " into /etc/udev/rules.d/ and run 'sudo udevadm control --reload && sudo udevadm trigger'; "
               "or run oskel-update with sudo";
    case platform::HidAccess::RulesNotApplied:
        return cause + ": run 'sudo udevadm control --reload && sudo udevadm trigger', or plug the controller in again";
    case platform::HidAccess::NotSeatSession:
        return cause + " (a remote login, or another user's session is in front), to whom the rules give the "
                       "controllers: run oskel-update in the session at the machine, or with sudo";
    case platform::HidAccess::Denied:
        return cause + ": see 'getfacl " + node + "', or run oskel-update with sudo";
    case platform::HidAccess::NotUsb:
        return cause + " (Bluetooth, I2C or a virtual device with the same ids): plug the controller in by USB";
    case platform::HidAccess::Granted: break;
    }
    return cause;
}
