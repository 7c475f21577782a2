#include "capture/capture_check.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <utility>

#include "capture/capture_format.h"
#include "codec/hex_text.h"
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

constexpr std::size_t kMaxNotes = 10;  // reports the device did not take, listed one by one

struct Transfer {
    std::uint16_t bus = 0;
    std::uint16_t address = 0;
    std::uint8_t type = 0;
    bool in = false;
    bool hasSetup = false;
    std::array<std::uint8_t, 8> setup{};
    std::vector<std::uint8_t> out;
    std::vector<std::uint8_t> input;
    bool truncated = false;
    UsbOutcome outcome = UsbOutcome::Pending;
    const UsbPacket* first = nullptr;  // its submission, or its completion when the capture has no submission
};

std::uint16_t Little16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

Transfer StartTransfer(const UsbPacket& packet)
{
    Transfer t;
    t.bus = packet.bus;
    t.address = packet.address;
    t.type = packet.transferType;
    t.hasSetup = packet.hasSetup;
    t.setup = packet.setup;
    t.in = packet.hasSetup ? (packet.setup[0] & kDirectionIn) != 0 : (packet.endpoint & kDirectionIn) != 0;
    t.first = &packet;
    return t;
}

// Pairs submissions with completions: the transfers in the order they ended, then those that
// never did.
std::vector<Transfer> AssembleTransfers(const CaptureContents& contents)
{
    std::vector<Transfer> ended;
    std::map<std::pair<std::uint16_t, std::uint64_t>, Transfer> pending;
    std::vector<Transfer> abandoned;
    for (const UsbPacket& packet : contents.packets) {
        const auto key = std::make_pair(packet.bus, packet.id);
        auto found = pending.find(key);
        switch (packet.event) {
        case UsbEvent::Submit:
            if (found != pending.end()) {
                abandoned.push_back(std::move(found->second));
                pending.erase(found);
            }
            {
                Transfer t = StartTransfer(packet);
                if (!t.in) {
                    t.out = packet.data;
                    t.truncated = packet.truncated;
                }
                pending.emplace(key, std::move(t));
            }
            break;
        case UsbEvent::SubmitData:
            if (found != pending.end() && !found->second.in) {
                found->second.out.insert(found->second.out.end(), packet.data.begin(), packet.data.end());
                found->second.truncated |= packet.truncated;
            }
            break;
        case UsbEvent::Complete: {
            Transfer t = found != pending.end() ? std::move(found->second) : StartTransfer(packet);
            if (found != pending.end()) pending.erase(found);
            t.outcome = packet.outcome;
            if (t.in) {
                t.input = packet.data;
                t.truncated |= packet.truncated;
            }
            ended.push_back(std::move(t));
            break;
        }
        case UsbEvent::SubmitError: {
            Transfer t = StartTransfer(packet);
            t.outcome = packet.outcome;
            ended.push_back(std::move(t));
            break;
        }
        }
    }
    for (auto& entry : pending) abandoned.push_back(std::move(entry.second));
    std::sort(abandoned.begin(), abandoned.end(),
              [](const Transfer& a, const Transfer& b) { return a.first->frame < b.first->frame; });
    for (Transfer& t : abandoned) ended.push_back(std::move(t));
    return ended;
}

std::string Hex16(unsigned value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04x", value & 0xFFFF);
    return text;
}

std::string HexByte(unsigned value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%02x", value & 0xFF);
    return text;
}

std::string HexAddress(std::size_t value)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%04zX", value);
    return text;
}

std::string Ids(std::uint16_t vendorId, std::uint16_t productId) { return Hex16(vendorId) + ":" + Hex16(productId); }

// "frame 12, 0.001234 s" (seconds from the first frame, as Wireshark shows them). Differences
// of hostile time stamps wrap instead of overflowing.
std::string Where(const CaptureContents& contents, const UsbPacket& packet)
{
    constexpr std::int64_t kNanosPerSecond = 1000000000;
    std::uint64_t seconds =
        static_cast<std::uint64_t>(packet.seconds) - static_cast<std::uint64_t>(contents.firstSeconds);
    std::int64_t nanos = std::int64_t{packet.nanoseconds} - std::int64_t{contents.firstNanoseconds};
    if (nanos < 0) {
        nanos += kNanosPerSecond;
        --seconds;
    }
    const bool negative = static_cast<std::int64_t>(seconds) < 0;
    if (negative && nanos != 0) {
        seconds = ~seconds;  // -(seconds + 1)
        nanos = kNanosPerSecond - nanos;
    } else if (negative) {
        seconds = ~seconds + 1;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%s%llu.%06lld s", negative ? "-" : "", static_cast<unsigned long long>(seconds),
                  static_cast<long long>(nanos / 1000));
    return "frame " + std::to_string(packet.frame) + ", " + text;
}

const char* OutcomeText(UsbOutcome outcome)
{
    switch (outcome) {
    case UsbOutcome::Pending: return "it never completed in the capture";
    case UsbOutcome::Ok: return "taken";
    case UsbOutcome::Stalled: return "the device refused it (stall)";
    case UsbOutcome::Cancelled: return "the host cancelled it";
    case UsbOutcome::Gone: return "the device was gone";
    case UsbOutcome::Error: return "the transfer failed";
    }
    return "";
}

enum class Role {
    None,             // not a report: standard requests, other class requests
    Unknown,          // a control transfer whose setup packet the capture lacks
    OutputReport,
    InputRequest,     // GET_REPORT of an input report
    DeviceInput,      // an input report on the interrupt IN endpoint
    OtherReportType,  // SET_REPORT or GET_REPORT of a report type the protocols do not use
};

Role RoleOf(const Transfer& t)
{
    if (t.type == kTransferInterrupt) return t.in ? Role::DeviceInput : Role::OutputReport;
    if (t.type != kTransferControl) return Role::None;
    if (!t.hasSetup) return Role::Unknown;
    const std::uint8_t reportType = t.setup[3];
    if (t.setup[0] == kClassInterfaceOut && t.setup[1] == kHidSetReport) {
        return reportType == kReportOutput ? Role::OutputReport : Role::OtherReportType;
    }
    if (t.setup[0] == kClassInterfaceIn && t.setup[1] == kHidGetReport) {
        return reportType == kReportInput ? Role::InputRequest : Role::OtherReportType;
    }
    return Role::None;
}

// The vendor and product that a completed device-descriptor request returned (false: none).
bool DescribedIds(const Transfer& t, std::uint16_t& vendorId, std::uint16_t& productId)
{
    if (t.type != kTransferControl || !t.hasSetup || t.outcome != UsbOutcome::Ok) return false;
    if (t.setup[0] != kStandardDeviceIn || t.setup[1] != kGetDescriptor || t.setup[3] != kDescriptorDevice) {
        return false;
    }
    if (t.input.size() < kDeviceDescriptorIds) return false;
    vendorId = Little16(t.input.data() + 8);
    productId = Little16(t.input.data() + 10);
    return true;
}

// The check of one device's traffic, fed transfer by transfer.
struct Check {
    const CaptureContents& contents;
    const CheckedProtocol& protocol;
    std::shared_ptr<models::HidDevice> model;
    bool numbered;
    CaptureVerdict& verdict;
    std::uint32_t outputs = 0;
    std::uint32_t interruptOutputs = 0;
    std::uint32_t inputRequests = 0;
    std::uint32_t deviceInputs = 0;
    std::uint32_t notTaken = 0;
    bool stopped = false;

    void Note(const std::string& line) { verdict.lines.push_back(line); }

    void NotTaken(const std::string& label, const Transfer& t)
    {
        if (++notTaken > kMaxNotes) return;
        Note(label + " (" + Where(contents, *t.first) + "): " + OutcomeText(t.outcome) + ", not fed to the model");
    }

    void Refused(const std::string& label, const Transfer& t, const std::string& why,
                 const std::vector<std::uint8_t>& bytes)
    {
        Note(label + " refused by the protocol " + std::to_string(protocol.mode.mode) + " model (" +
             Where(contents, *t.first) + "): " + why);
        Note("  its bytes: " + codec::Hex(bytes.data(), bytes.size()));
        stopped = true;
    }

    // The report as the host's HID interface held it: the report id in byte 0 (0 when the device
    // numbers no reports, which the bus leaves out).
    std::vector<std::uint8_t> WithReportId(const std::vector<std::uint8_t>& wire, bool idOnWire) const
    {
        std::vector<std::uint8_t> report;
        if (!idOnWire) report.push_back(0);
        report.insert(report.end(), wire.begin(), wire.end());
        return report;
    }

    void Feed(const Transfer& t)
    {
        const Role role = RoleOf(t);
        if (role == Role::Unknown) {
            if (t.outcome != UsbOutcome::Ok) NotTaken("a control transfer without its setup packet", t);
            return;
        }
        if (role == Role::None) return;
        if (role == Role::DeviceInput) {
            if (t.outcome == UsbOutcome::Ok) ++deviceInputs;
            return;
        }
        if (role == Role::OtherReportType) {
            Note(std::string(t.setup[1] == kHidSetReport ? "SET_REPORT" : "GET_REPORT") + " of report type " +
                 std::to_string(t.setup[3]) + " (" + Where(contents, *t.first) +
                 "): not a report of the protocol, not fed to the model");
            return;
        }
        const bool output = role == Role::OutputReport;
        const std::string label = output ? "report " + std::to_string(++outputs)
                                         : "input request " + std::to_string(++inputRequests);
        if (output && t.type == kTransferInterrupt) ++interruptOutputs;
        if (t.outcome != UsbOutcome::Ok) {
            NotTaken(label, t);
            return;
        }
        if (output && t.truncated) {
            Note(label + " (" + Where(contents, *t.first) +
                 "): the capture kept only part of it (snapshot length), so it cannot be judged");
            stopped = true;
            return;
        }
        const std::size_t errorsBefore = model->protocolErrors.size();
        bool taken = false;
        std::vector<std::uint8_t> report;
        if (output) {
            if (t.type == kTransferInterrupt) {
                report = WithReportId(t.out, numbered);
            } else {
                const std::uint8_t id = t.setup[2];
                const std::size_t declared = Little16(t.setup.data() + 6);
                report = WithReportId(t.out, id != 0);
                if (declared != t.out.size()) {
                    return Refused(label, t, "its SET_REPORT declares " + std::to_string(declared) +
                                   " bytes and carries " + std::to_string(t.out.size()), report);
                }
                if (id != 0 && (t.out.empty() || t.out[0] != id)) {
                    return Refused(label, t, "its SET_REPORT names report id " + HexByte(id) +
                                   " and its data do not begin with it", report);
                }
            }
            taken = protocol.output == HostOutput::Write ? model->OnWrite(report.data(), report.size())
                                                         : model->OnSetOutputReport(report.data(), report.size());
        } else {
            const std::uint8_t id = t.setup[2];
            report.assign(Little16(t.setup.data() + 6) + (id == 0 ? 1u : 0u), 0);
            if (!report.empty()) report[0] = id;
            taken = model->OnGetInputReport(report.data(), report.size());
        }
        if (!taken) {
            const std::string why = model->protocolErrors.size() > errorsBefore ? model->protocolErrors.back()
                                                                                 : "the model has nothing to answer";
            Refused(label, t, why, report);
        }
    }

    void CompareFlash(const std::vector<std::uint8_t>& image)
    {
        const std::vector<std::uint8_t> flash = model->Flash();
        const std::string protocolName = "protocol " + std::to_string(protocol.mode.mode);
        if (protocol.flashEnd == kWholeImage && flash.size() != image.size()) {
            Note("flash: the capture wrote an image of " + std::to_string(flash.size()) + " bytes, the image has " +
                 std::to_string(image.size()));
            return;
        }
        const std::size_t end = std::min({protocol.flashEnd == kWholeImage ? image.size() : protocol.flashEnd,
                                          image.size(), flash.size()});
        if (end <= protocol.flashStart) {
            Note("flash: the image has " + std::to_string(image.size()) + " bytes, " + protocolName +
                 " writes from " + HexAddress(protocol.flashStart));
            return;
        }
        std::size_t differing = 0;
        std::size_t firstDifference = 0;
        for (std::size_t i = protocol.flashStart; i < end; ++i) {
            if (flash[i] == image[i]) continue;
            if (differing++ == 0) firstDifference = i;
        }
        const std::string range = HexAddress(protocol.flashStart) + " to " + HexAddress(end - 1);
        if (differing == 0) {
            verdict.imageEqual = true;
            Note("flash: equal to the image from " + range + ", the bytes " + protocolName + " writes");
            return;
        }
        Note("flash: differs from the image in " + std::to_string(differing) + " of the bytes from " + range +
             ", first at " + HexAddress(firstDifference) + " (flash " + HexByte(flash[firstDifference]) +
             ", image " + HexByte(image[firstDifference]) + ")");
    }
};

const CheckedProtocol* ProtocolOf(std::uint16_t vendorId, std::uint16_t productId)
{
    for (const CheckedProtocol& protocol : kProtocols) {
        if (protocol.mode.vendorId == vendorId && protocol.mode.productId == productId) return &protocol;
    }
    return nullptr;
}

}  // namespace

bool CheckCapture(const CaptureContents& contents, std::uint16_t vendorId, std::uint16_t productId,
                  const std::vector<std::uint8_t>* image, CaptureVerdict& verdict, std::string& error)
{
    verdict = CaptureVerdict{};
    const CheckedProtocol* protocol = ProtocolOf(vendorId, productId);
    if (!protocol) {
        error = Ids(vendorId, productId) + " is not a device in an update mode: no protocol to check it against";
        return false;
    }
    if (contents.usbLinkTypes.empty()) {
        error = "no USB packets in the capture (" + std::to_string(contents.frames) + " frames)";
        return false;
    }
    std::string linkTypes;
    for (std::uint16_t linkType : contents.usbLinkTypes) {
        linkTypes += (linkTypes.empty() ? "" : ", ") + LinkTypeName(linkType);
    }
    verdict.lines.push_back("capture: " + contents.format + ", " + std::to_string(contents.frames) +
                            " frames, link type " + linkTypes);

    std::shared_ptr<models::HidDevice> model = models::MakeDevice(vendorId, productId);
    const bool numbered = std::any_of(model->collections.begin(), model->collections.end(), models::NumbersReports);
    Check check{contents, *protocol, model, numbered, verdict};

    std::map<std::pair<std::uint16_t, std::uint16_t>, std::pair<std::uint16_t, std::uint16_t>> described;
    std::string others;
    bool found = false;
    for (const Transfer& t : AssembleTransfers(contents)) {
        const auto address = std::make_pair(t.bus, t.address);
        std::uint16_t vendor = 0;
        std::uint16_t product = 0;
        if (t.address != 0 && DescribedIds(t, vendor, product)) {
            described[address] = {vendor, product};
            const bool target = vendor == vendorId && product == productId;
            if (target) {
                check.Note("device " + Ids(vendorId, productId) + " (protocol " + std::to_string(protocol->mode.mode) +
                           "): bus " + std::to_string(t.bus) + ", address " + std::to_string(t.address) + " (" +
                           Where(contents, *t.first) + ")");
                found = true;
            } else {
                others += (others.empty() ? "" : ", ") + Ids(vendor, product) + " at bus " + std::to_string(t.bus) +
                          " address " + std::to_string(t.address);
            }
            continue;
        }
        auto device = described.find(address);
        if (device == described.end() || device->second != std::make_pair(vendorId, productId)) continue;
        check.Feed(t);
        if (check.stopped) break;
    }
    if (!found) {
        error = "no device " + Ids(vendorId, productId) + " in the capture: " +
                (others.empty() ? std::string("it holds no device descriptor, so it did not see any device's "
                                              "enumeration (start the capture before the device is plugged in)")
                                : "it describes " + others);
        return false;
    }
    if (check.notTaken > kMaxNotes) {
        check.Note("... and " + std::to_string(check.notTaken - kMaxNotes) + " more reports the device did not take");
    }
    if (check.stopped) {
        if (image) check.Note("flash: not compared, the check stopped before the end of the download");
        return true;
    }
    const std::string counts = std::to_string(check.outputs) + " output reports (" +
                               std::to_string(check.interruptOutputs) + " interrupt OUT, " +
                               std::to_string(check.outputs - check.interruptOutputs) + " SET_REPORT) and " +
                               std::to_string(check.inputRequests) + " input requests; " +
                               std::to_string(check.deviceInputs) + " input reports from the device";
    const bool complete = model->DownloadComplete();
    verdict.conforms = complete;
    check.Note(std::string(complete ? "conforms" : "conforms so far") + ": the protocol " +
               std::to_string(protocol->mode.mode) + " model took every report that the device took: " + counts);
    check.Note(complete ? "the download is complete" : "the download is not complete");
    if (image) check.CompareFlash(*image);
    return true;
}

}  // namespace capture
