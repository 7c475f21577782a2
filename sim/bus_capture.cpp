#include "sim/bus_capture.h"

#include <map>
#include <mutex>

#include "models/report_descriptor.h"

namespace sim {
namespace {

std::mutex captureMutex;
std::map<const models::HidDevice*, int> captured;  // device -> its number in the capture

bool HasOutputReports(const models::HidDevice& device)
{
    for (const models::HidCollection& collection : device.collections) {
        if (collection.outputLength != 0) return true;
    }
    return false;
}

// The device's number in the capture, enumerating it first when needed (0: no capture).
// Caller holds captureMutex.
int CaptureNumber(const models::HidDevice& device, std::uint64_t timeUs)
{
    auto found = captured.find(&device);
    if (found != captured.end()) return found->second;
    capture::CaptureDevice description;
    description.vendorId = device.vendorId;
    description.productId = device.productId;
    description.reportDescriptor = models::ReportDescriptor(device.collections);
    // A device that declares output reports takes them on an interrupt OUT endpoint as well.
    description.hasInterruptOut = HasOutputReports(device);
    const int number = capture::CaptureAddDevice(description, timeUs);
    if (number != 0) captured[&device] = number;
    return number;
}

}  // namespace

bool BusCaptureOpen(const std::string& path, capture::CaptureLink link, std::string& error)
{
    std::lock_guard<std::mutex> lock(captureMutex);
    captured.clear();
    return capture::CaptureOpen(path, link, error);
}

bool BusCaptureClose(std::string& error)
{
    std::lock_guard<std::mutex> lock(captureMutex);
    captured.clear();
    return capture::CaptureClose(error);
}

std::uint64_t CaptureStartTime()
{
    return capture::CaptureIsOpen() ? capture::CaptureClock() : 0;
}

void CaptureDevicePlugged(const models::HidDevice& device)
{
    if (!capture::CaptureIsOpen()) return;
    std::lock_guard<std::mutex> lock(captureMutex);
    CaptureNumber(device, capture::CaptureClock());
}

void CaptureOperation(const models::HidDevice& device, BusOperation operation, capture::CaptureStatus status,
                      const std::uint8_t* bytes, std::size_t length, std::uint64_t startedUs)
{
    if (!capture::CaptureIsOpen()) return;
    std::lock_guard<std::mutex> lock(captureMutex);
    capture::CaptureTransfer transfer;
    transfer.device = CaptureNumber(device, startedUs);
    transfer.status = status;
    transfer.bytes = bytes;
    transfer.length = length;
    transfer.submittedUs = startedUs;
    transfer.completedUs = capture::CaptureClock();
    // As the Windows class driver sends them: WriteFile on the interrupt OUT endpoint,
    // HidD_SetOutputReport and HidD_GetInputReport as class requests, ReadFile from the
    // interrupt IN endpoint.
    switch (operation) {
    case BusOperation::Write:
        transfer.kind = HasOutputReports(device) ? capture::CaptureKind::InterruptOut
                                                 : capture::CaptureKind::SetReport;
        transfer.reportType = capture::CaptureReportType::Output;
        break;
    case BusOperation::SetOutput:
        transfer.kind = capture::CaptureKind::SetReport;
        transfer.reportType = capture::CaptureReportType::Output;
        break;
    case BusOperation::Read: transfer.kind = capture::CaptureKind::InterruptIn; break;
    case BusOperation::GetInput:
        transfer.kind = capture::CaptureKind::GetReport;
        transfer.reportType = capture::CaptureReportType::Input;
        break;
    }
    capture::CaptureRecord(transfer);
}

}  // namespace sim
