#include "sim/bus_capture.h"

#include <map>
#include <mutex>

#include "sim/report_descriptor.h"

namespace sim {
namespace {

std::mutex captureMutex;
std::map<const HidDevice*, int> captured;  // device -> its number in the capture

bool HasOutputReports(const HidDevice& device)
{
    for (const HidCollection& collection : device.collections) {
        if (collection.outputLength != 0) return true;
    }
    return false;
}

// The device's number in the capture, enumerating it first when needed (0: no capture).
// Caller holds captureMutex.
int CaptureNumber(const HidDevice& device, std::uint64_t timeUs)
{
    auto found = captured.find(&device);
    if (found != captured.end()) return found->second;
    platform::CaptureDevice description;
    description.vendorId = device.vendorId;
    description.productId = device.productId;
    description.reportDescriptor = ReportDescriptor(device.collections);
    // A device that declares output reports takes them on an interrupt OUT endpoint as well.
    description.hasInterruptOut = HasOutputReports(device);
    const int number = platform::CaptureAddDevice(description, timeUs);
    if (number != 0) captured[&device] = number;
    return number;
}

}  // namespace

bool BusCaptureOpen(const std::string& path, platform::CaptureLink link, std::string& error)
{
    std::lock_guard<std::mutex> lock(captureMutex);
    captured.clear();
    return platform::CaptureOpen(path, link, error);
}

bool BusCaptureClose(std::string& error)
{
    std::lock_guard<std::mutex> lock(captureMutex);
    captured.clear();
    return platform::CaptureClose(error);
}

std::uint64_t CaptureStartTime()
{
    return platform::CaptureIsOpen() ? platform::CaptureClock() : 0;
}

void CaptureDevicePlugged(const HidDevice& device)
{
    if (!platform::CaptureIsOpen()) return;
    std::lock_guard<std::mutex> lock(captureMutex);
    CaptureNumber(device, platform::CaptureClock());
}

void CaptureOperation(const HidDevice& device, BusOperation operation, platform::CaptureStatus status,
                      const std::uint8_t* bytes, std::size_t length, std::uint64_t startedUs)
{
    if (!platform::CaptureIsOpen()) return;
    std::lock_guard<std::mutex> lock(captureMutex);
    platform::CaptureTransfer transfer;
    transfer.device = CaptureNumber(device, startedUs);
    transfer.status = status;
    transfer.bytes = bytes;
    transfer.length = length;
    transfer.submittedUs = startedUs;
    transfer.completedUs = platform::CaptureClock();
    // As the Windows class driver sends them: WriteFile on the interrupt OUT endpoint,
    // HidD_SetOutputReport and HidD_GetInputReport as class requests, ReadFile from the
    // interrupt IN endpoint.
    switch (operation) {
    case BusOperation::Write:
        transfer.kind = HasOutputReports(device) ? platform::CaptureKind::InterruptOut
                                                 : platform::CaptureKind::SetReport;
        transfer.reportType = platform::CaptureReportType::Output;
        break;
    case BusOperation::SetOutput:
        transfer.kind = platform::CaptureKind::SetReport;
        transfer.reportType = platform::CaptureReportType::Output;
        break;
    case BusOperation::Read: transfer.kind = platform::CaptureKind::InterruptIn; break;
    case BusOperation::GetInput:
        transfer.kind = platform::CaptureKind::GetReport;
        transfer.reportType = platform::CaptureReportType::Input;
        break;
    }
    platform::CaptureRecord(transfer);
}

}  // namespace sim
