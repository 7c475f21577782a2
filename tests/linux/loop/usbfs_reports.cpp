#include "tests/linux/loop/usbfs_reports.h"

#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "codec/usb_layouts.h"

namespace rig {
namespace {

namespace fs = std::filesystem;

constexpr unsigned kLargestBus = 255;
constexpr unsigned kLargestAddress = 127;
constexpr unsigned kLargestInterface = 255;

// A decimal or (base 16) hexadecimal number from the first line of a sysfs file, at most largest.
bool ReadNumber(const fs::path& file, int base, unsigned largest, unsigned& value)
{
    std::ifstream in(file);
    std::string text;
    if (!std::getline(in, text) || text.empty() || text.size() > 8) return false;
    char* end = nullptr;
    const unsigned long parsed = std::strtoul(text.c_str(), &end, base);
    if (*end != '\0' || parsed > largest) return false;
    value = static_cast<unsigned>(parsed);
    return true;
}

std::string SystemError(const char* operation) { return std::string(operation) + ": " + std::strerror(errno); }

}  // namespace

UsbfsReports::~UsbfsReports()
{
    if (device_ < 0) return;
    if (claimed_) {
        unsigned interface = interface_;
        ioctl(device_, USBDEVFS_RELEASEINTERFACE, &interface);
        usbdevfs_ioctl connect{static_cast<int>(interface_), USBDEVFS_CONNECT, nullptr};
        ioctl(device_, USBDEVFS_IOCTL, &connect);  // usbhid takes the interface back
    }
    close(device_);
}

bool UsbfsReports::Open(const std::string& hidrawNode, std::string& error)
{
    std::error_code failed;
    // hidrawN/device is the hid device; its parent the USB interface, whose parent the device.
    const fs::path hid = fs::canonical(fs::path("/sys/class/hidraw") / fs::path(hidrawNode).filename() / "device", failed);
    const fs::path interface = hid.parent_path();
    const fs::path usbDevice = interface.parent_path();
    unsigned bus = 0;
    unsigned address = 0;
    if (failed || !ReadNumber(interface / "bInterfaceNumber", 16, kLargestInterface, interface_) ||
        !ReadNumber(usbDevice / "busnum", 10, kLargestBus, bus) ||
        !ReadNumber(usbDevice / "devnum", 10, kLargestAddress, address)) {
        error = hidrawNode + " is not a USB interface's node";
        return false;
    }
    char path[32];
    std::snprintf(path, sizeof path, "/dev/bus/usb/%03u/%03u", bus, address);
    device_ = open(path, O_RDWR | O_CLOEXEC);
    if (device_ < 0) {
        error = SystemError((std::string("open ") + path).c_str());
        return false;
    }
    usbdevfs_disconnect_claim claim{};
    claim.interface = interface_;
    claim.flags = USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER;
    std::snprintf(claim.driver, sizeof claim.driver, "usbfs");
    if (ioctl(device_, USBDEVFS_DISCONNECT_CLAIM, &claim) != 0) {
        error = SystemError("USBDEVFS_DISCONNECT_CLAIM");
        return false;
    }
    claimed_ = true;
    return true;
}

bool UsbfsReports::SetOutputReport(const std::vector<std::uint8_t>& report, std::uint32_t timeLimitMs,
                                   std::string& error)
{
    if (report.empty()) return false;
    const std::uint8_t id = report[0];
    std::vector<std::uint8_t> data(report.begin() + (id == 0 ? 1 : 0), report.end());
    usbdevfs_ctrltransfer transfer{};
    transfer.bRequestType = usb::kClassInterfaceOut;
    transfer.bRequest = usb::kHidSetReport;
    transfer.wValue = static_cast<std::uint16_t>(usb::kReportOutput << 8 | id);
    transfer.wIndex = static_cast<std::uint16_t>(interface_);
    transfer.wLength = static_cast<std::uint16_t>(data.size());
    transfer.timeout = timeLimitMs;
    transfer.data = data.data();
    if (ioctl(device_, USBDEVFS_CONTROL, &transfer) == static_cast<int>(data.size())) return true;
    error = SystemError("SET_REPORT");
    return false;
}

bool UsbfsReports::GetInputReport(std::vector<std::uint8_t>& buffer, std::uint32_t timeLimitMs, std::string& error)
{
    if (buffer.empty()) return false;
    const std::uint8_t id = buffer[0];
    const std::size_t skip = id == 0 ? 1 : 0;
    usbdevfs_ctrltransfer transfer{};
    transfer.bRequestType = usb::kClassInterfaceIn;
    transfer.bRequest = usb::kHidGetReport;
    transfer.wValue = static_cast<std::uint16_t>(usb::kReportInput << 8 | id);
    transfer.wIndex = static_cast<std::uint16_t>(interface_);
    transfer.wLength = static_cast<std::uint16_t>(buffer.size() - skip);
    transfer.timeout = timeLimitMs;
    transfer.data = buffer.data() + skip;
    if (ioctl(device_, USBDEVFS_CONTROL, &transfer) > 0) return true;
    error = SystemError("GET_REPORT");
    return false;
}

}  // namespace rig
