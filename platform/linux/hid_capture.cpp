#include "platform/linux/hid_capture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>

#include "capture/capture_writer.h"
#include "platform/linux/error_text.h"
#include "platform/linux/hid_node.h"
#include "platform/linux/hid_usb.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

std::mutex captureMutex;
std::string requestedPath;  // "" while no capture was asked for
std::map<std::string, CapturedDevice> capturedNodes;  // by the node's sysfs path: one plugged-in device

capture::CaptureStatus CaptureStatusOf(Status status, bool unpluggedInFlight)
{
    switch (status) {
    case Status::Done: return capture::CaptureStatus::Completed;
    case Status::Refused: return capture::CaptureStatus::Refused;
    case Status::TimedOut: return capture::CaptureStatus::TimedOut;
    case Status::Gone: return unpluggedInFlight ? capture::CaptureStatus::Unplugged : capture::CaptureStatus::DeviceGone;
    case Status::Denied:
    case Status::Held:
    case Status::Failed: return capture::CaptureStatus::Failed;
    }
    return capture::CaptureStatus::Failed;
}

void Record(const CapturedDevice& device, capture::CaptureKind kind, capture::CaptureReportType type, const std::uint8_t* report,
            std::size_t length, Status status, bool unpluggedInFlight, std::uint64_t submittedUs)
{
    if (device.number == 0) return;
    capture::CaptureTransfer transfer;
    transfer.device = device.number;
    transfer.kind = kind;
    transfer.reportType = type;
    transfer.status = CaptureStatusOf(status, unpluggedInFlight);
    transfer.bytes = report;
    transfer.length = length;
    transfer.submittedUs = submittedUs;
    transfer.completedUs = capture::CaptureClock();
    capture::CaptureRecord(transfer);
}

// Makes the requested file (with the capture lock held): never through a symbolic link.
bool MakeCaptureFile(std::string& error)
{
    if (capture::CaptureIsOpen()) return true;
    const int fd = open(requestedPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        const int openError = errno;
        error = "cannot write the capture " + requestedPath + ": " +
                (openError == ELOOP ? std::string("it is a symbolic link") : ErrorText(openError));
        return false;
    }
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        error = "cannot write the capture " + requestedPath + ": " + ErrorText(errno);
        close(fd);
        return false;
    }
    return capture::CaptureOpenStream(file, requestedPath, capture::CaptureLink::Usbmon, error);
}

}  // namespace

bool CaptureRequest(const std::string& path, std::string& error)
{
    struct stat status {};
    if (lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
        error = path + " is a symbolic link: name the capture file itself";
        return false;
    }
    std::lock_guard<std::mutex> lock(captureMutex);
    requestedPath = path;
    return true;
}

bool CaptureFileMade() { return capture::CaptureIsOpen(); }

bool CaptureFinish(std::string& error)
{
    return !capture::CaptureIsOpen() || capture::CaptureClose(error);
}

bool CaptureNode(const std::string& node, const HidNodeFacts& facts, const UsbPlace& place, CapturedDevice& captured,
                 std::string& error)
{
    captured = {};
    std::lock_guard<std::mutex> lock(captureMutex);
    if (requestedPath.empty()) return true;
    if (!MakeCaptureFile(error)) return false;
    std::error_code failure;
    const fs::path hid = fs::canonical(fs::path("/sys/class/hidraw") / fs::path(node).filename() / "device", failure);
    const std::string key = failure ? node : hid.string();
    auto known = capturedNodes.find(key);
    if (known != capturedNodes.end()) {
        captured = known->second;
        return true;
    }
    capture::CaptureDevice device;
    device.vendorId = facts.vendorId;
    device.productId = facts.productId;
    if (place.usb) {
        captured.interruptOut = place.interruptOut;
        device.bus = place.bus;
        device.address = place.address;
    }
    capture::CaptureInterface described;
    described.reportDescriptor = facts.reportDescriptor;
    described.hasInterruptOut = captured.interruptOut;
    device.interfaces.push_back(std::move(described));
    captured.number = capture::CaptureAddDevice(device, capture::CaptureClock());
    capturedNodes[key] = captured;
    return true;
}

std::uint64_t CaptureSubmitTime(const CapturedDevice& device)
{
    return device.number != 0 ? capture::CaptureClock() : 0;
}

void CaptureOutputReport(const CapturedDevice& device, bool setReport, const std::uint8_t* report, std::size_t length,
                         Status status, bool unpluggedInFlight, std::uint64_t submittedUs)
{
    Record(device, setReport ? capture::CaptureKind::SetReport : capture::CaptureKind::InterruptOut,
           capture::CaptureReportType::Output, report, length, status, unpluggedInFlight, submittedUs);
}

void CaptureInputReport(const CapturedDevice& device, bool getReport, const std::uint8_t* report,
                        std::size_t length, Status status, bool unpluggedInFlight, std::uint64_t submittedUs)
{
    Record(device, getReport ? capture::CaptureKind::GetReport : capture::CaptureKind::InterruptIn,
           capture::CaptureReportType::Input, report, length, status, unpluggedInFlight, submittedUs);
}

}  // namespace platform
