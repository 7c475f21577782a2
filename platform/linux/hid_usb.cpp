#include "platform/linux/hid_usb.h"

#include <fcntl.h>
#include <libusb.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

#include "codec/usb_layouts.h"
#include "platform/linux/error_text.h"
#include "platform/linux/hid_call.h"
#include "platform/system.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

// The HID class requests' codes are USB's (codec/usb_layouts.h).
constexpr std::size_t kMaxControlData = 0xFFFF;  // wLength is 16 bits

// One USB interface of one plugged-in device (the address changes when it is plugged in again).
struct InterfaceKey {
    std::uint16_t bus = 0;
    std::uint8_t address = 0;
    std::uint8_t interfaceNumber = 0;
    bool operator==(const InterfaceKey&) const = default;
};

InterfaceKey KeyOf(const UsbPlace& place) { return {place.bus, place.address, place.interfaceNumber}; }

// An interface this process has claimed, and the descriptor of its device's usbfs node.
struct Claim {
    InterfaceKey key;
    std::string deviceNode;
    int fd = -1;
    libusb_device_handle* handle = nullptr;
    bool driverTaken = false;  // usbhid was detached from the interface, and gets it back
};

std::mutex usbMutex;  // the claims, and the one request at a time on them
libusb_context* context = nullptr;
std::vector<Claim> claims;
std::vector<InterfaceKey> givenBack;

void Note(const std::string& line) { DebugOutput(("usbfs: " + line).c_str()); }

std::string FirstLine(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// A number of at most 5 digits in base 10 or 16, no larger than largest; false otherwise.
bool ReadNumber(const fs::path& file, int base, unsigned largest, unsigned& value)
{
    const std::string text = FirstLine(file);
    const char* digits = base == 16 ? "0123456789abcdefABCDEF" : "0123456789";
    if (text.empty() || text.size() > 5 || text.find_first_not_of(digits) != std::string::npos) return false;
    value = static_cast<unsigned>(std::stoul(text, nullptr, base));
    return value <= largest;
}

// DEVNAME of a sysfs device's uevent ("bus/usb/001/004"), checked to be a plain relative path.
std::string DeviceName(const fs::path& device)
{
    std::ifstream in(device / "uevent");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("DEVNAME=", 0) != 0) continue;
        const std::string name = line.substr(8);
        if (name.empty() || name[0] == '/' || name.find("..") != std::string::npos) return "";
        return name;
    }
    return "";
}

std::string UsbError(const char* operation, int result)
{
    return std::string(operation) + ": " + libusb_strerror(result);
}

Status StatusOf(int result)
{
    switch (result) {
    case LIBUSB_ERROR_TIMEOUT: return Status::TimedOut;
    case LIBUSB_ERROR_PIPE: return Status::Refused;
    case LIBUSB_ERROR_NO_DEVICE: return Status::Gone;
    default: return Status::Failed;
    }
}

void Close(Claim& claim)
{
    if (claim.handle != nullptr) libusb_close(claim.handle);
    if (claim.fd >= 0) close(claim.fd);
    claim.handle = nullptr;
    claim.fd = -1;
}

// Releases the interface and hands it back to usbhid.
void GiveBack(Claim& claim)
{
    const int interfaceNumber = claim.key.interfaceNumber;
    int result = libusb_release_interface(claim.handle, interfaceNumber);
    if (result < 0) Note(claim.deviceNode + ": " + UsbError("release interface", result));
    if (claim.driverTaken) {
        result = libusb_attach_kernel_driver(claim.handle, interfaceNumber);
        if (result == 0) {
            givenBack.push_back(claim.key);
            Note(claim.deviceNode + ": interface " + std::to_string(interfaceNumber) + " given back to its driver");
        } else {
            Note(claim.deviceNode + ": " + UsbError("give the interface back to its driver", result));
        }
    }
    Close(claim);
}

// libusb's context, started at the first request; why not, when it cannot be.
std::string StartLibusb()
{
    if (context != nullptr) return "";
    // No scan of the machine's devices and no hotplug monitor: the device is opened by its node.
    libusb_set_option(nullptr, LIBUSB_OPTION_NO_DEVICE_DISCOVERY);
    const int result = libusb_init(&context);
    if (result == 0) return "";
    context = nullptr;
    return UsbError("libusb", result);
}

// The claim of place's interface, taken now if this process does not hold it yet; null, with how
// it failed (for the request name), when it cannot be had. A failure that is the device node's or
// the interface's refusal names the node.
Claim* ClaimOf(const UsbPlace& place, const std::string& name, Outcome& failure)
{
    const InterfaceKey key = KeyOf(place);
    for (Claim& claim : claims) {
        if (claim.key == key) return &claim;
    }
    const std::string notStarted = StartLibusb();
    if (!notStarted.empty()) {
        failure = Failure(Status::Failed, name, notStarted);
        return nullptr;
    }
    Claim claim;
    claim.key = key;
    claim.deviceNode = place.deviceNode;
    claim.fd = open(place.deviceNode.c_str(), O_RDWR | O_CLOEXEC);
    if (claim.fd < 0) {
        const int openError = errno;
        const std::string operation = name + ": " + place.deviceNode;
        if (openError == ENOENT || openError == ENODEV) {
            failure = Failure(Status::Gone, operation, ErrorText(openError));
        } else {
            const bool denied = openError == EACCES || openError == EPERM;
            failure = Failure(denied ? Status::Denied : Status::Failed, operation, ErrorText(openError), place.deviceNode);
        }
        return nullptr;
    }
    std::string error;
    int result = libusb_wrap_sys_device(context, static_cast<intptr_t>(claim.fd), &claim.handle);
    if (result == 0 && libusb_kernel_driver_active(claim.handle, key.interfaceNumber) == 1) {
        result = libusb_detach_kernel_driver(claim.handle, key.interfaceNumber);
        claim.driverTaken = result == 0;
        if (result < 0) error = UsbError("take the interface from its driver", result);
    }
    bool held = false;
    if (result == 0) {
        result = libusb_claim_interface(claim.handle, key.interfaceNumber);
        held = result == LIBUSB_ERROR_BUSY;
        if (result < 0) error = UsbError("claim the interface", result);
        if (result < 0 && claim.driverTaken && libusb_attach_kernel_driver(claim.handle, key.interfaceNumber) == 0) {
            givenBack.push_back(key);
        }
    } else if (error.empty()) {
        error = UsbError("open", result);
    }
    if (result < 0) {
        // Only another program's hold on the interface is the device's refusal; the rest is the
        // request's own failure.
        failure = Failure(held ? Status::Held : StatusOf(result), name, error, held ? place.deviceNode : "");
        Close(claim);
        return nullptr;
    }
    Note(place.deviceNode + ": interface " + std::to_string(key.interfaceNumber) + " claimed" +
         (claim.driverTaken ? " (taken from its driver)" : ""));
    claims.push_back(claim);
    return &claims.back();
}

}  // namespace

UsbPlace ReadUsbPlace(const std::string& hidrawNode)
{
    UsbPlace place;
    std::error_code error;
    const fs::path hid = fs::canonical(fs::path("/sys/class/hidraw") / fs::path(hidrawNode).filename() / "device", error);
    if (error) return place;
    const fs::path interface = hid.parent_path();
    const fs::path device = interface.parent_path();
    unsigned interfaceNumber = 0;
    unsigned bus = 0;
    unsigned address = 0;
    unsigned vendorId = 0;
    unsigned productId = 0;
    if (!fs::exists(interface / "bInterfaceClass", error) ||
        !ReadNumber(interface / "bInterfaceNumber", 16, 0xFF, interfaceNumber) ||
        !ReadNumber(device / "busnum", 10, 0xFFFF, bus) || !ReadNumber(device / "devnum", 10, 127, address) ||
        !ReadNumber(device / "idVendor", 16, 0xFFFF, vendorId) || !ReadNumber(device / "idProduct", 16, 0xFFFF, productId)) {
        return place;  // not USB: uhid and the like
    }
    const std::string name = DeviceName(device);
    if (name.empty()) return place;
    for (const fs::directory_entry& entry : fs::directory_iterator(interface, error)) {
        if (entry.path().filename().string().rfind("ep_", 0) != 0) continue;
        if (FirstLine(entry.path() / "direction") == "out" && FirstLine(entry.path() / "type") == "Interrupt") {
            place.interruptOut = true;
        }
    }
    place.usb = true;
    place.bus = static_cast<std::uint16_t>(bus);
    place.address = static_cast<std::uint8_t>(address);
    place.interfaceNumber = static_cast<std::uint8_t>(interfaceNumber);
    place.vendorId = static_cast<std::uint16_t>(vendorId);
    place.productId = static_cast<std::uint16_t>(productId);
    place.deviceNode = "/dev/" + name;
    return place;
}

Outcome UsbRequest(const UsbPlace& place, UsbClassRequest request, std::uint8_t* report, std::size_t length,
                   std::uint32_t timeLimitMs)
{
    const bool set = request == UsbClassRequest::SetOutputReport;
    const std::string name = set ? "SET_REPORT(Output)" : "GET_REPORT(Input)";
    if (!place.usb || report == nullptr || length == 0 || length - 1 > kMaxControlData) {
        return Failure(Status::Failed, name, "not a request this device can carry");
    }
    std::lock_guard<std::mutex> lock(usbMutex);
    Outcome failure;
    Claim* claim = ClaimOf(place, name, failure);
    if (claim == nullptr) return failure;
    // As usbhid sends them: a report id of 0 is not on the wire; any other is the data's byte 0.
    const std::uint8_t id = report[0];
    const std::size_t skip = id == 0 ? 1 : 0;
    const std::uint16_t value = static_cast<std::uint16_t>((set ? usb::kReportOutput : usb::kReportInput) << 8 | id);
    const std::size_t wireLength = std::min(length - skip, kMaxControlData);
    const std::uint64_t start = CallClockMs();
    const int result = libusb_control_transfer(
        claim->handle, set ? usb::kClassInterfaceOut : usb::kClassInterfaceIn, set ? usb::kHidSetReport : usb::kHidGetReport,
        value, claim->key.interfaceNumber, report + skip, static_cast<std::uint16_t>(wireLength), timeLimitMs);
    Outcome outcome = Done();
    if (result < 0) {
        outcome = Failure(StatusOf(result), name, libusb_strerror(result));
    } else if (set && static_cast<std::size_t>(result) != wireLength) {
        outcome = Failure(Status::Failed, name, std::to_string(result) + " of " + std::to_string(wireLength) + " bytes");
    } else if (!set && result == 0) {
        outcome = Failure(Status::Failed, name, "an empty report");
    } else if (!set) {
        std::fill(report + skip + result, report + length, 0);
    }
    return WithinLimit(outcome, start, timeLimitMs, name);
}

void UsbGiveBackInterfaces()
{
    std::lock_guard<std::mutex> lock(usbMutex);
    for (Claim& claim : claims) GiveBack(claim);
    claims.clear();
}

bool UsbTakeGivenBack(const UsbPlace& place)
{
    if (!place.usb) return false;
    std::lock_guard<std::mutex> lock(usbMutex);
    const auto found = std::find(givenBack.begin(), givenBack.end(), KeyOf(place));
    if (found == givenBack.end()) return false;
    givenBack.erase(found);
    return true;
}

}  // namespace platform
