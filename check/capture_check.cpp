#include "check/capture_check.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <utility>

#include "capture/capture_format.h"

#include "models/models.h"
#include "models/protocol1_device.h"
#include "models/protocol2_device.h"
#include "models/report_descriptor.h"
#include "state/download_modes.h"

namespace capture {
namespace {

// How the updater hands each protocol's output reports to the system: written to the device
// (WriteFile, write) or as set-output requests (HidD_SetOutputReport). Either may show on the bus
// as an interrupt OUT transfer or a SET_REPORT request; the model takes them its own way.
enum class HostOutput { Write, SetOutput };

constexpr std::size_t kWholeImage = 0;  // the flash holds the image and nothing else

struct CheckedProtocol {
    const DownloadModeFacts& mode;
    HostOutput output;
    // The bytes of the image that a download writes: [flashStart, flashEnd).
    std::size_t flashStart;
    std::size_t flashEnd;
};

constexpr CheckedProtocol kProtocols[] = {
    // From the application region's start to the image's last byte, which is never sent.
    {ModeFacts(1), HostOutput::SetOutput, models::Protocol1Device::kRegionStart, models::Protocol1Device::kFlashSize - 1},
    // The stream ends with the chunk at its last offset.
    {ModeFacts(2), HostOutput::Write, 0, models::Protocol2Device::kLastOffset + models::Protocol2Device::kChunkLength},
    {ModeFacts(3), HostOutput::Write, 0, kWholeImage},
};

const CheckedProtocol* ProtocolOf(std::uint16_t vendorId, std::uint16_t productId)
{
    for (const CheckedProtocol& protocol : kProtocols) {
        if (protocol.mode.vendorId == vendorId && protocol.mode.productId == productId) return &protocol;
    }
    return nullptr;
}

std::string HexByte(unsigned value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%02x", value & 0xFF);
    return text;
}

constexpr std::uint8_t kRecipientMask = 0x1F;
constexpr std::uint8_t kRecipientInterface = 0x01;

enum class Role {
    None,             // not a report: standard requests, other class requests
    Unknown,          // a control transfer whose setup packet the capture lacks
    OutputReport,
    InputRequest,     // GET_REPORT of an input report
    DeviceInput,      // an input report on the interrupt IN endpoint
    OtherReportType,  // SET_REPORT or GET_REPORT of a report type the protocols do not use
};

Role RoleOf(const UsbTransfer& t)
{
    if (t.type == kTransferInterrupt) return t.in ? Role::DeviceInput : Role::OutputReport;
    if (t.type != kTransferControl) return Role::None;
    if (!t.hasSetup) return Role::Unknown;
    if (RequestType(t) == usb::kClassInterfaceOut && Request(t) == usb::kHidSetReport) {
        return ValueHigh(t) == usb::kReportOutput ? Role::OutputReport : Role::OtherReportType;
    }
    if (RequestType(t) == usb::kClassInterfaceIn && Request(t) == usb::kHidGetReport) {
        return ValueHigh(t) == usb::kReportInput ? Role::InputRequest : Role::OtherReportType;
    }
    return Role::None;
}

// The updater's interface: where the device's configuration tells it.
void ChooseInterface(const DeviceSummary& device, const models::HidDevice& model, DeviceVerdict& verdict)
{
    if (!device.configurationError.empty()) {
        verdict.source = InterfaceSource::Malformed;
        return;
    }
    if (!device.configured) {
        verdict.source = InterfaceSource::AllTraffic;
        return;
    }
    // The protocol's reports go to the model's collection with the longest output report; an
    // interface can carry them when its report descriptor declares that output report (its
    // length and report id), as the class driver checks every report against the declaration.
    const models::HidCollection& own = *std::max_element(
        model.collections.begin(), model.collections.end(),
        [](const models::HidCollection& a, const models::HidCollection& b) { return a.outputLength < b.outputLength; });
    auto declaresProtocol = [&](const InterfaceSummary& interface) {
        for (const codec::HidTopLevelCollection& declared : interface.collections) {
            const std::vector<std::uint8_t>& ids = declared.outputReportIds;
            const bool sameId = own.outputReportId == 0
                                    ? ids.empty()
                                    : std::find(ids.begin(), ids.end(), own.outputReportId) != ids.end();
            if (declared.outputReportByteLength == own.outputLength && sameId) return true;
        }
        return false;
    };
    auto bootDevice = [](const InterfaceSummary& interface) {
        return interface.subclass == usb::kSubclassBoot &&
               (interface.protocol == usb::kProtocolKeyboard || interface.protocol == usb::kProtocolMouse);
    };
    const InterfaceSummary* chosen = nullptr;
    const InterfaceSummary* withoutReportDescriptor = nullptr;
    for (const InterfaceSummary& interface : device.interfaces) {
        if (interface.interfaceClass != usb::kClassHid || interface.alternate != 0) continue;
        if (interface.reportDescriptorSeen) {
            if (!chosen && declaresProtocol(interface)) chosen = &interface;
        } else if (!withoutReportDescriptor || (bootDevice(*withoutReportDescriptor) && !bootDevice(interface))) {
            withoutReportDescriptor = &interface;
        }
    }
    verdict.source = chosen ? InterfaceSource::ReportDescriptor
                            : withoutReportDescriptor ? InterfaceSource::Configuration : InterfaceSource::Missing;
    if (!chosen) chosen = withoutReportDescriptor;
    if (!chosen) return;
    verdict.interfaceNumber = chosen->number;
    verdict.endpoints = chosen->endpoints;
}

// Whether a transfer is the updater interface's: a class request whose wIndex names it, or an
// interrupt transfer on one of its endpoints.
bool OnInterface(const UsbTransfer& t, const DeviceVerdict& verdict)
{
    if (verdict.source == InterfaceSource::AllTraffic) return true;
    if (t.type == kTransferControl) {
        return !t.hasSetup || (RequestType(t) & kRecipientMask) != kRecipientInterface ||
               (Index(t) & 0xFF) == verdict.interfaceNumber;
    }
    return std::find(verdict.endpoints.begin(), verdict.endpoints.end(), t.endpoint) != verdict.endpoints.end();
}

// The check of one device's traffic, fed transfer by transfer.
struct Check {
    const CaptureContents& contents;
    const CheckedProtocol& protocol;
    std::shared_ptr<models::HidDevice> model;
    bool numbered;
    DeviceVerdict& verdict;

    void Note(TransferNote::Kind kind, const std::string& label, const UsbTransfer& t)
    {
        TransferNote note;
        note.kind = kind;
        note.label = label;
        note.at = FrameTimeOf(contents, *t.first);
        note.outcome = t.outcome;
        if (t.hasSetup) {
            note.request = Request(t);
            note.reportType = ValueHigh(t);
        }
        verdict.notes.push_back(std::move(note));
    }

    void NotTaken(const std::string& label, const UsbTransfer& t)
    {
        if (++verdict.notTaken <= kMaxNotes) Note(TransferNote::Kind::NotTaken, label, t);
    }

    void Stop(CheckStop::Kind kind, const std::string& label, const UsbTransfer& t, const std::string& reason,
              const std::vector<std::uint8_t>& bytes)
    {
        verdict.stop.kind = kind;
        verdict.stop.label = label;
        verdict.stop.at = FrameTimeOf(contents, *t.first);
        verdict.stop.reason = reason;
        verdict.stop.bytes = bytes;
    }

    bool Stopped() const { return verdict.stop.kind != CheckStop::Kind::None; }

    // The report as the host's HID interface held it: the report id in byte 0 (0 when the device
    // numbers no reports, which the bus leaves out).
    std::vector<std::uint8_t> WithReportId(const std::vector<std::uint8_t>& wire, bool idOnWire) const
    {
        const std::size_t skip = idOnWire ? 0 : 1;
        std::vector<std::uint8_t> report(skip + wire.size(), 0);
        std::copy(wire.begin(), wire.end(), report.begin() + static_cast<std::ptrdiff_t>(skip));
        return report;
    }

    void Feed(const UsbTransfer& t)
    {
        const Role role = RoleOf(t);
        if (role == Role::None) return;
        if (!OnInterface(t, verdict)) {
            ++verdict.otherTraffic;
            return;
        }
        if (role == Role::Unknown) {
            if (t.outcome != UsbOutcome::Ok) NotTaken("a control transfer without its setup packet", t);
            return;
        }
        if (role == Role::DeviceInput) {
            if (t.outcome == UsbOutcome::Ok) ++verdict.deviceInputs;
            return;
        }
        if (role == Role::OtherReportType) {
            Note(TransferNote::Kind::OtherReportType, "", t);
            return;
        }
        const bool output = role == Role::OutputReport;
        const std::string label = output ? "report " + std::to_string(++verdict.outputs)
                                         : "input request " + std::to_string(++verdict.inputRequests);
        if (output && t.type == kTransferInterrupt) ++verdict.interruptOutputs;
        if (t.outcome != UsbOutcome::Ok) {
            NotTaken(label, t);
            return;
        }
        if (output && t.truncated) return Stop(CheckStop::Kind::Truncated, label, t, "", {});
        const std::size_t errorsBefore = model->protocolErrors.size();
        bool taken = false;
        std::vector<std::uint8_t> report;
        if (output) {
            if (t.type == kTransferInterrupt) {
                report = WithReportId(t.out, numbered);
            } else {
                const std::uint8_t id = ValueLow(t);
                const std::size_t declared = Length(t);
                report = WithReportId(t.out, id != 0);
                if (declared != t.out.size()) {
                    return Stop(CheckStop::Kind::Refused, label, t,
                                "its SET_REPORT declares " + std::to_string(declared) + " bytes and carries " +
                                    std::to_string(t.out.size()),
                                report);
                }
                if (id != 0 && (t.out.empty() || t.out[0] != id)) {
                    return Stop(CheckStop::Kind::Refused, label, t,
                                "its SET_REPORT names report id " + HexByte(id) + " and its data do not begin with it",
                                report);
                }
            }
            taken = protocol.output == HostOutput::Write ? model->OnWrite(report.data(), report.size())
                                                         : model->OnSetOutputReport(report.data(), report.size());
        } else {
            const std::uint8_t id = ValueLow(t);
            report.assign(Length(t) + (id == 0 ? 1u : 0u), 0);
            if (!report.empty()) report[0] = id;
            taken = model->OnGetInputReport(report.data(), report.size());
        }
        if (!taken) {
            const std::string why = model->protocolErrors.size() > errorsBefore ? model->protocolErrors.back()
                                                                                 : "the model has nothing to answer";
            Stop(CheckStop::Kind::Refused, label, t, why, report);
        }
    }

    void CompareFlash(const std::vector<std::uint8_t>& image)
    {
        FlashComparison& flash = verdict.flash;
        const std::vector<std::uint8_t> written = model->Flash();
        flash.flashSize = written.size();
        flash.imageSize = image.size();
        flash.start = protocol.flashStart;
        if (protocol.flashEnd == kWholeImage && written.size() != image.size()) {
            flash.result = FlashComparison::Result::SizeDiffers;
            return;
        }
        flash.end = std::min({protocol.flashEnd == kWholeImage ? image.size() : protocol.flashEnd, image.size(),
                              written.size()});
        if (flash.end <= flash.start) {
            flash.result = FlashComparison::Result::OutOfRange;
            return;
        }
        for (std::size_t i = flash.start; i < flash.end; ++i) {
            if (written[i] == image[i]) continue;
            if (flash.differing++ == 0) {
                flash.firstDifference = i;
                flash.flashByte = written[i];
                flash.imageByte = image[i];
            }
        }
        flash.result = flash.differing == 0 ? FlashComparison::Result::Equal : FlashComparison::Result::Differs;
    }
};

DeviceVerdict CheckDevice(const CaptureContents& contents, const CaptureDevices& found, std::size_t device,
                          const CheckedProtocol& protocol, const std::vector<std::uint8_t>* image)
{
    DeviceVerdict verdict;
    verdict.device = device;
    verdict.protocol = protocol.mode.mode;
    std::shared_ptr<models::HidDevice> model = models::MakeDevice(protocol.mode.vendorId, protocol.mode.productId);
    const bool numbered = std::any_of(model->collections.begin(), model->collections.end(), models::NumbersReports);
    ChooseInterface(found.summary.devices[device], *model, verdict);
    if (verdict.source == InterfaceSource::Malformed || verdict.source == InterfaceSource::Missing) return verdict;
    Check check{contents, protocol, model, numbered, verdict};
    for (std::size_t index : found.transfersOf[device]) {
        check.Feed(found.transfers[index]);
        if (check.Stopped()) break;
    }
    verdict.idle = verdict.outputs == 0 && verdict.inputRequests == 0;
    if (verdict.idle) return verdict;
    if (check.Stopped()) {
        if (image) verdict.flash.result = FlashComparison::Result::NotReached;
        return verdict;
    }
    verdict.complete = model->DownloadComplete();
    if (image) check.CompareFlash(*image);
    verdict.conforms = verdict.complete && (!image || verdict.flash.result == FlashComparison::Result::Equal);
    return verdict;
}

}  // namespace

bool HasProtocol(std::uint16_t vendorId, std::uint16_t productId) { return ProtocolOf(vendorId, productId) != nullptr; }

CheckVerdict CheckCapture(const CaptureContents& contents, const CaptureDevices& found, const CheckRequest& request)
{
    CheckVerdict verdict;
    verdict.vendorId = request.vendorId;
    verdict.productId = request.productId;
    verdict.byAddress = request.byAddress;
    verdict.bus = request.bus;
    verdict.address = request.address;
    const CheckedProtocol* protocol = ProtocolOf(request.vendorId, request.productId);
    if (!protocol) return verdict;
    bool downloaded = false;
    bool allConform = true;
    for (std::size_t d = 0; d < found.summary.devices.size(); ++d) {
        const DeviceSummary& device = found.summary.devices[d];
        const bool atAddress = device.bus == request.bus && device.address == request.address;
        const bool sameIds = device.vendorId == request.vendorId && device.productId == request.productId;
        const bool named =
            request.byAddress ? atAddress && (!device.described || sameIds) : device.described && sameIds;
        if (!named) continue;
        verdict.devices.push_back(CheckDevice(contents, found, d, *protocol, request.image));
        const DeviceVerdict& judged = verdict.devices.back();
        if (judged.idle) continue;  // a device that got no download leaves the verdict to those that did
        downloaded = true;
        allConform = allConform && judged.conforms;
    }
    if (verdict.devices.empty()) verdict.status = CheckStatus::NoSuchDevice;
    else verdict.status = downloaded && allConform ? CheckStatus::Conforms : CheckStatus::DoesNotConform;
    return verdict;
}

}  // namespace capture
