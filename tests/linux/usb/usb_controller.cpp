#include "tests/linux/usb/usb_controller.h"

#include <algorithm>
#include <cstdio>

#include "codec/usb_layouts.h"
#include "models/report_descriptor.h"
#include "sim/hid_bus.h"
#include "tests/rig/model_pipes.h"

namespace rig {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Setup = std::array<std::uint8_t, 8>;
using F = usb::SetupField;

// bmRequestType: direction in bit 7 (usb::kDirectionIn), then type (usb::kRequestTypeMask) and
// recipient.
constexpr std::uint8_t kRecipientBits = 0x1F;
constexpr std::uint8_t kRecipientDevice = 0;
constexpr std::uint8_t kRecipientInterface = 1;

// Standard requests (USB 2.0 table 9-4) other than those of codec/usb_layouts.h.
constexpr std::uint8_t kGetStatus = 0x00;
constexpr std::uint8_t kClearFeature = 0x01;
constexpr std::uint8_t kGetConfiguration = 0x08;
constexpr std::uint8_t kGetInterface = 0x0A;
constexpr std::uint8_t kSetInterface = 0x0B;
// HID class requests (HID 1.11 section 7.2) other than GET_REPORT and SET_REPORT.
constexpr std::uint8_t kGetIdle = 0x02;
constexpr std::uint8_t kSetIdle = 0x0A;

constexpr std::uint8_t kManufacturerString = 1;
constexpr std::uint8_t kProductString = 2;
constexpr char kManufacturer[] = "Oskel rig";

std::uint16_t Word(const Setup& setup, std::size_t at)
{
    return static_cast<std::uint16_t>(setup[at] | setup[at + 1] << 8);
}

DeviceAnswer Stall()
{
    DeviceAnswer stall;
    stall.stalled = true;
    return stall;
}
DeviceAnswer Done() { return DeviceAnswer{}; }

// An answer of these bytes, cut to the length the host asked for.
DeviceAnswer Answer(const Bytes& bytes, std::uint16_t length)
{
    DeviceAnswer answer;
    answer.data.assign(bytes.begin(), bytes.begin() + std::min<std::size_t>(bytes.size(), length));
    return answer;
}

usb::UsbHidDevice Described(const models::HidDevice& model, std::size_t reportDescriptorLength)
{
    usb::UsbHidDevice device;
    device.vendorId = model.vendorId;
    device.productId = model.productId;
    usb::UsbHidInterface hid;
    hid.reportDescriptorLength = static_cast<std::uint16_t>(reportDescriptorLength);
    hid.hasInterruptOut = std::any_of(model.collections.begin(), model.collections.end(),
                                      [](const models::HidCollection& c) { return c.outputLength > 0; });
    device.interfaces = {hid};
    device.manufacturerString = kManufacturerString;
    device.productString = kProductString;
    return device;
}

std::string ProductName(const models::HidDevice& model)
{
    char name[64];
    std::snprintf(name, sizeof name, "Oskel rig controller %04x:%04x", model.vendorId, model.productId);
    return name;
}

}  // namespace

UsbController::UsbController(std::shared_ptr<models::HidDevice> model)
    : model_(std::move(model)),
      reportDescriptor_(models::ReportDescriptor(model_->collections)),
      described_(Described(*model_, reportDescriptor_.size()))
{
}

UsbController::~UsbController()
{
    for (platform::DeviceHandle handle : handles_) sim::BusClose(handle);
}

void UsbController::Plug()
{
    sim::Plug(model_);
    for (std::size_t i = 0; i < model_->collections.size(); ++i)
        handles_.push_back(sim::BusOpen(model_->PathOf(i), true).handle);
}

bool UsbController::Removed() const { return model_->removed; }

DeviceAnswer UsbController::Control(const Setup& setup, const Bytes& out)
{
    const std::uint8_t type = setup[F::kRequestType] & usb::kRequestTypeMask;
    if (type == usb::kRequestTypeStandard) return StandardRequest(setup, Word(setup, F::kLength));
    const bool toOurInterface = (setup[F::kRequestType] & kRecipientBits) == kRecipientInterface &&
                                Word(setup, F::kIndex) == kHidInterfaceNumber;
    if (type == usb::kRequestTypeClass && toOurInterface) return ClassRequest(setup, out);
    return Stall();
}

DeviceAnswer UsbController::StandardRequest(const Setup& setup, std::uint16_t length)
{
    const std::uint8_t recipient = setup[F::kRequestType] & kRecipientBits;
    const std::uint16_t value = Word(setup, F::kValue);
    const std::uint16_t index = Word(setup, F::kIndex);
    switch (setup[F::kRequest]) {
    case usb::kGetDescriptor:
        if (recipient == kRecipientInterface && index != kHidInterfaceNumber) return Stall();
        return GetDescriptor(recipient, static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value), length);
    case usb::kSetConfiguration:
        if (value != 0 && value != usb::kConfigurationValue) return Stall();
        configuration_ = static_cast<std::uint8_t>(value);
        return Done();
    case kGetConfiguration: return Answer({configuration_}, length);
    case kGetStatus: return Answer({0, 0}, length);
    case kClearFeature: return Done();  // endpoint halt: this device keeps no halt
    case kSetInterface:
        return index == kHidInterfaceNumber && value == 0 ? Done() : Stall();
    case kGetInterface: return index == kHidInterfaceNumber ? Answer({0}, length) : Stall();
    default: return Stall();
    }
}

DeviceAnswer UsbController::GetDescriptor(std::uint8_t recipient, std::uint8_t type, std::uint8_t index,
                                          std::uint16_t length)
{
    if (recipient == kRecipientInterface) {
        if (type == usb::kDescriptorHid) return Answer(usb::HidDescriptor(described_.interfaces.front()), length);
        if (type == usb::kDescriptorReport) return Answer(reportDescriptor_, length);
        return Stall();
    }
    if (recipient != kRecipientDevice) return Stall();
    switch (type) {
    case usb::kDescriptorDevice: return Answer(usb::DeviceDescriptor(described_), length);
    case usb::kDescriptorConfiguration:
        return index == 0 ? Answer(usb::ConfigurationDescriptorSet(described_), length) : Stall();
    case usb::kDescriptorString:
        if (index == 0) return Answer(usb::LanguagesDescriptor(), length);
        if (index == kManufacturerString) return Answer(usb::StringDescriptor(kManufacturer), length);
        if (index == kProductString) return Answer(usb::StringDescriptor(ProductName(*model_)), length);
        return Stall();
    default: return Stall();  // the device qualifier among them: full speed only
    }
}

DeviceAnswer UsbController::ClassRequest(const Setup& setup, const Bytes& out)
{
    const std::uint16_t value = Word(setup, F::kValue);
    const auto reportType = static_cast<std::uint8_t>(value >> 8);
    const auto reportId = static_cast<std::uint8_t>(value);
    const bool in = (setup[F::kRequestType] & usb::kDirectionIn) != 0;
    switch (setup[F::kRequest]) {
    case usb::kHidSetReport:
        return !in && reportType == usb::kReportOutput ? SetOutputReport(reportId, out) : Stall();
    case usb::kHidGetReport:
        return in && reportType == usb::kReportInput ? GetInputReport(reportId, Word(setup, F::kLength)) : Stall();
    case kSetIdle:
        idle_ = reportType;  // the duration, in its high byte
        return Done();
    case kGetIdle: return Answer({idle_}, Word(setup, F::kLength));
    default: return Stall();
    }
}

DeviceAnswer UsbController::SetOutputReport(std::uint8_t reportId, const Bytes& out)
{
    times_.NoteReport();
    // The data stage holds the report with its id, or without one for report id 0.
    Bytes report;
    if (reportId == 0) report.push_back(0);
    report.insert(report.end(), out.begin(), out.end());
    const std::size_t collection = CollectionDeclaring(*model_, ReportDirection::Output, reportId);
    const bool taken = sim::BusSetOutputReport(handles_[collection], report.data(), report.size(), kHungDeviceMs).done();
    return taken ? Done() : Stall();
}

DeviceAnswer UsbController::GetInputReport(std::uint8_t reportId, std::uint16_t length)
{
    const std::size_t collection = CollectionDeclaring(*model_, ReportDirection::Input, reportId);
    const std::uint16_t declared = model_->collections[collection].inputLength;
    if (declared == 0) return Stall();
    Bytes buffer(declared, 0);
    buffer[0] = reportId;
    if (!sim::BusGetInputReport(handles_[collection], buffer.data(), buffer.size(), kHungDeviceMs)) return Stall();
    if (reportId == 0) buffer.erase(buffer.begin());
    return Answer(buffer, length);
}

DeviceAnswer UsbController::InterruptOut(const Bytes& wire)
{
    times_.NoteReport();
    Bytes report;
    if (!NumbersReports(*model_, ReportDirection::Output)) report.push_back(0);
    report.insert(report.end(), wire.begin(), wire.end());
    if (report.empty()) return Stall();
    const std::size_t collection = CollectionDeclaring(*model_, ReportDirection::Output, report[0]);
    if (!sim::BusWrite(handles_[collection], report.data(), report.size(), kHungDeviceMs)) return Stall();
    DeviceAnswer answer;
    if (AnswersEachWrite(*model_)) answer.reply = AnswerOf(collection);
    return answer;
}

Bytes UsbController::AnswerOf(std::size_t collection)
{
    const models::HidCollection& declaration = model_->collections[collection];
    if (declaration.inputLength == 0) return {};
    Bytes buffer(declaration.inputLength, 0);
    buffer[0] = declaration.inputReportId;
    if (!sim::BusRead(handles_[collection], buffer.data(), buffer.size(), kAnswerNowMs)) return {};
    if (!models::NumbersReports(declaration)) buffer.erase(buffer.begin());
    return buffer;
}

}  // namespace rig
