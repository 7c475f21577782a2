#include "platform/linux/hid_usb.h"

#include <fcntl.h>
#include <libusb.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <mutex>
#include <vector>

#include "codec/usb_layouts.h"
#include "platform/linux/error_text.h"
#include "platform/linux/hid_call.h"
#include "platform/linux/sysfs_facts.h"
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
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string deviceNode;
    int fd = -1;
    libusb_device_handle* handle = nullptr;
    // libusb detaches the kernel's driver as it claims and binds it again as it releases; where it
    // cannot (a libusb without it), the claim does both itself.
    bool autoDetach = false;
};

std::mutex usbMutex;  // the claims, and the one request at a time on them
libusb_context* context = nullptr;
std::vector<Claim> claims;

void Note(const std::string& line) { DebugOutput(("usbfs: " + line).c_str()); }

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

// Releases the interface and lets the kernel's drivers bind it again (usbhid's probe runs
// meanwhile). False, with why, when the interface is left without a driver.
bool GiveBack(Claim& claim, std::string& reason)
{
    const int interfaceNumber = claim.key.interfaceNumber;
    int result = libusb_release_interface(claim.handle, interfaceNumber);
    if (result == LIBUSB_ERROR_NO_DEVICE) {
        Note(claim.deviceNode + ": unplugged: nothing to give back");
        Close(claim);
        return true;
    }
    if (result < 0) reason = UsbError("release the interface", result);
    if (result == 0 && !claim.autoDetach) result = libusb_attach_kernel_driver(claim.handle, interfaceNumber);
    // libusb does not say how its own attach ended: the interface's driver tells.
    const int active = libusb_kernel_driver_active(claim.handle, interfaceNumber);
    Close(claim);
    if (active == 1) {
        Note(claim.deviceNode + ": interface " + std::to_string(interfaceNumber) + " given back to its driver");
        return true;
    }
    if (active == LIBUSB_ERROR_NO_DEVICE) {
        Note(claim.deviceNode + ": unplugged while it was given back");
        return true;
    }
    if (reason.empty()) {
        reason = result < 0 && result != LIBUSB_ERROR_NOT_FOUND ? UsbError("bind its driver again", result)
                                                                : "no driver of the system took the interface back";
    }
    Note(claim.deviceNode + ": interface " + std::to_string(interfaceNumber) + ": " + reason);
    return false;
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
    bool driverBound = false;
    if (result == 0) {
        driverBound = libusb_kernel_driver_active(claim.handle, key.interfaceNumber) == 1;
        // Taken from usbhid and claimed in one step (USBDEVFS_DISCONNECT_CLAIM, except from
        // another program's usbfs claim), and bound to it again on release.
        claim.autoDetach = libusb_set_auto_detach_kernel_driver(claim.handle, 1) == 0;
        if (!claim.autoDetach && driverBound) {
            result = libusb_detach_kernel_driver(claim.handle, key.interfaceNumber);
            if (result < 0) error = UsbError("take the interface from its driver", result);
        }
    } else {
        error = UsbError("open", result);
    }
    bool held = false;
    if (result == 0) {
        result = libusb_claim_interface(claim.handle, key.interfaceNumber);
        held = result == LIBUSB_ERROR_BUSY;
        if (result < 0) error = UsbError("claim the interface", result);
        // A claim that failed once usbhid had let the interface go hands it back.
        if (result < 0 && driverBound && libusb_kernel_driver_active(claim.handle, key.interfaceNumber) == 0) {
            libusb_attach_kernel_driver(claim.handle, key.interfaceNumber);
        }
    }
    if (result < 0) {
        // Only another program's hold on the interface is the device's refusal; the rest is the
        // request's own failure.
        failure = Failure(held ? Status::Held : StatusOf(result), name, error, held ? place.deviceNode : "");
        Close(claim);
        return nullptr;
    }
    claim.vendorId = place.vendorId;
    claim.productId = place.productId;
    Note(place.deviceNode + ": interface " + std::to_string(key.interfaceNumber) + " claimed" +
         (driverBound ? " (taken from its driver)" : ""));
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
    SysfsUsbInterface facts;
    if (!SysfsReadUsbInterface(interface, facts)) return place;  // not USB: uhid and the like
    for (const fs::directory_entry& entry : fs::directory_iterator(interface, error)) {
        if (entry.path().filename().string().rfind("ep_", 0) != 0) continue;
        if (SysfsFirstLine(entry.path() / "direction") == "out" && SysfsFirstLine(entry.path() / "type") == "Interrupt") {
            place.interruptOut = true;
        }
    }
    place.usb = true;
    place.bus = facts.bus;
    place.address = facts.address;
    place.interfaceNumber = facts.interfaceNumber;
    place.vendorId = facts.vendorId;
    place.productId = facts.productId;
    place.deviceNode = facts.deviceNode;
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

bool UsbInterfacesClaimed()
{
    std::lock_guard<std::mutex> lock(usbMutex);
    return !claims.empty();
}

std::vector<UsbNotGivenBack> UsbGiveBackInterfaces()
{
    std::lock_guard<std::mutex> lock(usbMutex);
    std::vector<UsbNotGivenBack> notGivenBack;
    for (Claim& claim : claims) {
        UsbNotGivenBack left{claim.vendorId, claim.productId, claim.deviceNode, ""};
        if (!GiveBack(claim, left.reason)) notGivenBack.push_back(left);
    }
    claims.clear();
    return notGivenBack;
}

}  // namespace platform
