#include "platform/hid_capture_linux.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

#include "capture/capture_writer.h"
#include "platform/hid_node_linux.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

std::mutex captureMutex;
std::map<std::string, CapturedDevice> capturedNodes;  // by the node's sysfs path: one plugged-in device

std::string FirstLine(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

unsigned Number(const fs::path& file, unsigned largest)
{
    const std::string text = FirstLine(file);
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return 0;
    const unsigned value = static_cast<unsigned>(std::stoul(text));
    return value <= largest ? value : 0;
}

// What sysfs tells of the USB device above a hid device (its folder hid): the interface is the
// hid device's parent, the device the interface's.
void ReadUsbPlace(const fs::path& hid, capture::CaptureDevice& device, bool& interruptOut)
{
    std::error_code error;
    const fs::path interface = hid.parent_path();
    if (!fs::exists(interface / "bInterfaceClass", error)) return;  // not USB: uhid and the like
    interruptOut = false;
    for (const fs::directory_entry& entry : fs::directory_iterator(interface, error)) {
        if (entry.path().filename().string().rfind("ep_", 0) != 0) continue;
        if (FirstLine(entry.path() / "direction") == "out" && FirstLine(entry.path() / "type") == "Interrupt") {
            interruptOut = true;
        }
    }
    const fs::path usbDevice = interface.parent_path();
    device.bus = static_cast<std::uint16_t>(Number(usbDevice / "busnum", 0xFFFF));
    device.address = static_cast<std::uint8_t>(Number(usbDevice / "devnum", 127));
}

capture::CaptureStatus StatusOf(CallOutcome outcome)
{
    switch (outcome) {
    case CallOutcome::Done: return capture::CaptureStatus::Completed;
    case CallOutcome::TimedOut: return capture::CaptureStatus::TimedOut;
    case CallOutcome::DeviceGone: return capture::CaptureStatus::DeviceGone;
    case CallOutcome::Failed: return capture::CaptureStatus::Failed;
    }
    return capture::CaptureStatus::Failed;
}

void Record(const CapturedDevice& device, capture::CaptureKind kind, capture::CaptureReportType type, const std::uint8_t* report,
            std::size_t length, CallOutcome outcome, std::uint64_t submittedUs)
{
    if (device.number == 0) return;
    capture::CaptureTransfer transfer;
    transfer.device = device.number;
    transfer.kind = kind;
    transfer.reportType = type;
    transfer.status = StatusOf(outcome);
    transfer.bytes = report;
    transfer.length = length;
    transfer.submittedUs = submittedUs;
    transfer.completedUs = capture::CaptureClock();
    capture::CaptureRecord(transfer);
}

}  // namespace

CapturedDevice CaptureNode(const std::string& node, const HidNodeFacts& facts)
{
    if (!capture::CaptureIsOpen()) return {};
    std::error_code error;
    const fs::path hid = fs::canonical(fs::path("/sys/class/hidraw") / fs::path(node).filename() / "device", error);
    const std::string key = error ? node : hid.string();
    std::lock_guard<std::mutex> lock(captureMutex);
    auto known = capturedNodes.find(key);
    if (known != capturedNodes.end()) return known->second;

    capture::CaptureDevice device;
    device.vendorId = facts.vendorId;
    device.productId = facts.productId;
    CapturedDevice captured;
    if (!error) ReadUsbPlace(hid, device, captured.interruptOut);
    capture::CaptureInterface interface;
    interface.reportDescriptor = facts.reportDescriptor;
    interface.hasInterruptOut = captured.interruptOut;
    device.interfaces.push_back(std::move(interface));
    captured.number = capture::CaptureAddDevice(device, capture::CaptureClock());
    capturedNodes[key] = captured;
    return captured;
}

std::uint64_t CaptureSubmitTime(const CapturedDevice& device)
{
    return device.number != 0 ? capture::CaptureClock() : 0;
}

void CaptureOutputReport(const CapturedDevice& device, const std::uint8_t* report, std::size_t length,
                         CallOutcome outcome, std::uint64_t submittedUs)
{
    Record(device, device.interruptOut ? capture::CaptureKind::InterruptOut : capture::CaptureKind::SetReport, capture::CaptureReportType::Output,
           report, length, outcome, submittedUs);
}

void CaptureInputReport(const CapturedDevice& device, bool getReport, const std::uint8_t* report,
                        std::size_t length, CallOutcome outcome, std::uint64_t submittedUs)
{
    Record(device, getReport ? capture::CaptureKind::GetReport : capture::CaptureKind::InterruptIn, capture::CaptureReportType::Input, report,
           length, outcome, submittedUs);
}

}  // namespace platform
