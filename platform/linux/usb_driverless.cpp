#include "platform/linux/usb_driverless.h"

#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/linux/error_text.h"
#include "platform/linux/sysfs_facts.h"
#include "platform/system.h"
#include "state/download_modes.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr std::uint8_t kHidClass = 3;

void Note(const std::string& line) { DebugOutput(("usbfs: " + line).c_str()); }

// The interface at path ("/sys/bus/usb/devices/3-1:1.0") when it is one of HID class, of a
// device in an update mode, without a driver.
bool ReadDriverless(const fs::path& path, DriverlessInterface& found)
{
    std::error_code error;
    const fs::path interface = fs::canonical(path, error);
    if (error || fs::exists(interface / "driver", error)) return false;
    return SysfsReadUsbInterface(interface, found) && found.interfaceClass == kHidClass &&
           ModeOfDevice(found.vendorId, found.productId) != nullptr;
}

}  // namespace

std::vector<DriverlessInterface> UsbFindDriverless()
{
    std::vector<DriverlessInterface> found;
    std::error_code error;
    for (fs::directory_iterator entry("/sys/bus/usb/devices", error), end; !error && entry != end;
         entry.increment(error)) {
        // Interfaces are named BUS-PORT...:CONFIGURATION.INTERFACE; devices have no colon.
        if (entry->path().filename().string().find(':') == std::string::npos) continue;
        DriverlessInterface interface;
        if (ReadDriverless(entry->path(), interface)) found.push_back(interface);
    }
    return found;
}

std::string UsbGiveBackDriverless(const DriverlessInterface& interface)
{
    const int fd = open(interface.deviceNode.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const int openError = errno;
        if (openError == ENOENT || openError == ENODEV) return "";  // unplugged meanwhile
        return "cannot open " + interface.deviceNode + ": " + ErrorText(openError);
    }
    usbdevfs_ioctl command{};
    command.ifno = interface.interfaceNumber;
    command.ioctl_code = USBDEVFS_CONNECT;
    command.data = nullptr;
    // The kernel's answer: 1 when a driver was bound, 0 when none took the interface, EBUSY when
    // one has it already.
    const int result = ioctl(fd, USBDEVFS_IOCTL, &command);
    const int connectError = errno;
    close(fd);
    const std::string where = interface.deviceNode + ": interface " + std::to_string(interface.interfaceNumber);
    if (result > 0 || (result < 0 && (connectError == EBUSY || connectError == ENODEV))) {
        Note(where + " given back to the kernel's drivers");
        return "";
    }
    const std::string why = result == 0 ? "no driver of the system took the interface back"
                                        : "the kernel refused to bind its drivers: " + ErrorText(connectError);
    Note(where + ": " + why);
    return why;
}

}  // namespace platform
