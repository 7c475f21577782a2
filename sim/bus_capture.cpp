#include "sim/bus_capture.h"

#include <map>
#include <mutex>

#include "capture/capture_format.h"
#include "models/report_descriptor.h"

namespace sim {
namespace {

constexpr std::uint16_t kGenericDesktopPage = 0x0001;
constexpr std::uint16_t kMouseUsage = 0x0002;
constexpr std::uint16_t kKeyboardUsage = 0x0006;
constexpr std::uint8_t kLedsOff = 0x00;

// How the bus lays a device out on USB: a report descriptor with several top-level collections
// must number its reports, so the collections that number theirs share one interface, and each
// collection that numbers none is an interface of its own (a composite device).
struct UsbLayout {
    std::vector<capture::CaptureInterface> interfaces;
    std::vector<std::size_t> interfaceOf;  // per collection
};

// A boot keyboard or mouse: an interface of that collection alone, without report ids.
std::uint8_t BootProtocol(const models::HidCollection& collection)
{
    if (collection.usagePage != kGenericDesktopPage || models::NumbersReports(collection)) return 0;
    if (collection.usage == kKeyboardUsage) return usb::kProtocolKeyboard;
    if (collection.usage == kMouseUsage) return usb::kProtocolMouse;
    return 0;
}

UsbLayout LayoutOf(const models::HidDevice& device)
{
    UsbLayout layout;
    std::vector<std::vector<models::HidCollection>> members;
    constexpr std::size_t kNone = ~std::size_t{0};
    std::size_t shared = kNone;
    for (const models::HidCollection& collection : device.collections) {
        std::size_t usbInterface = models::NumbersReports(collection) ? shared : kNone;
        if (usbInterface == kNone) {
            usbInterface = members.size();
            members.emplace_back();
            layout.interfaces.emplace_back();
            layout.interfaces.back().bootProtocol = BootProtocol(collection);
            if (models::NumbersReports(collection)) shared = usbInterface;
        }
        members[usbInterface].push_back(collection);
        layout.interfaceOf.push_back(usbInterface);
    }
    for (std::size_t i = 0; i < members.size(); ++i) {
        capture::CaptureInterface& usbInterface = layout.interfaces[i];
        usbInterface.reportDescriptor = models::ReportDescriptor(members[i]);
        // An interface with output reports takes them on an interrupt OUT endpoint as well; a
        // boot keyboard has its interrupt IN endpoint only and gets its LEDs as SET_REPORT.
        for (const models::HidCollection& collection : members[i]) {
            if (collection.outputLength != 0 && usbInterface.bootProtocol == 0) usbInterface.hasInterruptOut = true;
        }
    }
    return layout;
}

struct CapturedDevice {
    int number;
    UsbLayout layout;
};

std::mutex captureMutex;
std::map<const models::HidDevice*, CapturedDevice> captured;
BusPlace firstPlace;  // where the first device plugged in goes

// The system's keyboard driver sets the LEDs of each keyboard it takes (Linux's hid-input and
// Windows' kbdhid alike): one SET_REPORT of the LED report to each boot keyboard interface.
void SetKeyboardLeds(const CapturedDevice& device, const models::HidDevice& model, std::uint64_t timeUs)
{
    for (std::size_t c = 0; c < model.collections.size(); ++c) {
        const std::size_t usbInterface = device.layout.interfaceOf[c];
        if (device.layout.interfaces[usbInterface].bootProtocol != usb::kProtocolKeyboard) continue;
        if (model.collections[c].outputLength == 0) continue;
        const std::vector<std::uint8_t> report(model.collections[c].outputLength, kLedsOff);  // report id 0, LEDs
        capture::CaptureTransfer transfer;
        transfer.device = device.number;
        transfer.usbInterface = usbInterface;
        transfer.kind = capture::CaptureKind::SetReport;
        transfer.reportType = capture::CaptureReportType::Output;
        transfer.bytes = report.data();
        transfer.length = report.size();
        transfer.submittedUs = timeUs;
        transfer.completedUs = timeUs;
        capture::CaptureRecord(transfer);
    }
}

// The device in the capture, enumerating it first when needed (null: no capture). Caller holds
// captureMutex.
const CapturedDevice* CaptureOf(const models::HidDevice& device, std::uint64_t timeUs)
{
    auto found = captured.find(&device);
    if (found != captured.end()) return &found->second;
    CapturedDevice entry{0, LayoutOf(device)};
    capture::CaptureDevice description;
    description.vendorId = device.vendorId;
    description.productId = device.productId;
    description.interfaces = entry.layout.interfaces;
    if (captured.empty()) {
        description.bus = firstPlace.bus;
        description.address = firstPlace.address;
    }
    entry.number = capture::CaptureAddDevice(description, timeUs);
    if (entry.number == 0) return nullptr;
    const CapturedDevice& added = captured.emplace(&device, std::move(entry)).first->second;
    SetKeyboardLeds(added, device, timeUs);
    return &added;
}

}  // namespace

bool BusCaptureOpen(const std::string& path, capture::CaptureLink link, BusPlace place, std::string& error)
{
    std::lock_guard<std::mutex> lock(captureMutex);
    captured.clear();
    firstPlace = place;
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
    CaptureOf(device, capture::CaptureClock());
}

void CaptureOperation(const models::HidDevice& device, std::size_t collection, BusOperation operation,
                      capture::CaptureStatus status, const std::uint8_t* bytes, std::size_t length,
                      std::uint64_t startedUs)
{
    if (!capture::CaptureIsOpen()) return;
    std::lock_guard<std::mutex> lock(captureMutex);
    const CapturedDevice* entry = CaptureOf(device, startedUs);
    if (!entry || collection >= entry->layout.interfaceOf.size()) return;
    const std::size_t usbInterface = entry->layout.interfaceOf[collection];
    capture::CaptureTransfer transfer;
    transfer.device = entry->number;
    transfer.usbInterface = usbInterface;
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
        transfer.kind = entry->layout.interfaces[usbInterface].hasInterruptOut ? capture::CaptureKind::InterruptOut
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
