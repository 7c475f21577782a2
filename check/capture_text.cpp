#include "check/capture_text.h"

#include <cstdio>

#include "capture/capture_format.h"
#include "capture/capture_reader.h"
#include "codec/hex_text.h"

namespace capture {
namespace {

std::string Ids(std::uint16_t vendorId, std::uint16_t productId) { return Hex16(vendorId) + ":" + Hex16(productId); }

std::string HexAddress(std::size_t value)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%04zX", value);
    return text;
}

// "frame 12, 0.001234 s"
std::string Where(const FrameTime& at) { return "frame " + std::to_string(at.frame) + ", " + TimeText(at) + " s"; }

std::string Plural(std::uint64_t count, const std::string& one, const std::string& many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string CaptureLine(const CaptureSummary& summary)
{
    std::string linkTypes;
    for (std::uint16_t linkType : summary.usbLinkTypes) {
        linkTypes += (linkTypes.empty() ? "" : ", ") + LinkTypeName(linkType);
    }
    if (linkTypes.empty()) linkTypes = "none of USB";
    return "capture: " + summary.format + ", " + std::to_string(summary.frames) + " frames, link type " + linkTypes;
}

std::string EndpointList(const std::vector<std::uint8_t>& endpoints)
{
    std::string list;
    for (std::uint8_t endpoint : endpoints) list += (list.empty() ? "" : ", ") + HexByte(endpoint);
    return list.empty() ? "none" : list;
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

std::string InterfaceLine(const InterfaceSummary& interface)
{
    std::string line = "  interface " + std::to_string(interface.number);
    if (interface.alternate != 0) line += " (alternate setting " + std::to_string(interface.alternate) + ")";
    line += ": class " + HexByte(interface.interfaceClass) + (interface.interfaceClass == usb::kClassHid ? " HID" : "") +
            ", subclass " + std::to_string(interface.subclass) + ", protocol " + std::to_string(interface.protocol) +
            ", endpoints " + EndpointList(interface.endpoints);
    if (!interface.reportDescriptorSeen) return line;
    std::string collections;
    for (const codec::HidTopLevelCollection& collection : interface.collections) {
        collections += (collections.empty() ? "" : ", ") + Hex16(collection.usagePage) + ":" + Hex16(collection.usage);
    }
    line += "; report descriptor: " + Plural(interface.collections.size(), "collection", "collections");
    if (!collections.empty()) line += " (usage page:usage " + collections + ")";
    if (!interface.reportDescriptorError.empty()) line += ", malformed: " + interface.reportDescriptorError;
    return line;
}

std::string TallyLine(const EndpointTally& tally)
{
    std::string line = "  endpoint " + HexByte(tally.endpoint) + " " + TransferTypeName(tally.type);
    if (tally.type != kTransferControl) line += (tally.endpoint & usb::kDirectionIn) ? " IN" : " OUT";
    line += ": " + Plural(tally.transfers, "transfer", "transfers");
    if (tally.failed != 0) line += " (" + std::to_string(tally.failed) + " not completed)";
    return line;
}

std::string DeviceLine(const DeviceSummary& device)
{
    std::string line = "bus " + std::to_string(device.bus) + ", address " + std::to_string(device.address);
    line += device.described ? ", " + Ids(device.vendorId, device.productId) : ", no descriptors in the capture";
    return line + " (" + Where(device.first) + ")";
}

void DeviceLines(const DeviceSummary& device, std::vector<std::string>& lines)
{
    lines.push_back("device " + DeviceLine(device));
    const std::pair<const char*, const std::string*> strings[] = {
        {"manufacturer", &device.manufacturer}, {"product", &device.product}, {"serial number", &device.serialNumber}};
    for (const auto& [name, text] : strings) {
        if (!text->empty()) lines.push_back(std::string("  ") + name + " \"" + *text + "\"");
    }
    if (!device.configurationError.empty()) {
        lines.push_back("  configuration descriptor malformed: " + device.configurationError);
    }
    for (const InterfaceSummary& interface : device.interfaces) lines.push_back(InterfaceLine(interface));
    for (const EndpointTally& tally : device.endpoints) lines.push_back(TallyLine(tally));
}

std::string InterfaceText(const DeviceVerdict& judged, bool described)
{
    switch (judged.source) {
    case InterfaceSource::AllTraffic:
        return described ? "no configuration descriptor in the capture: all its traffic judged"
                         : "all its traffic judged";
    case InterfaceSource::ReportDescriptor:
    case InterfaceSource::Configuration:
        return "interface " + std::to_string(judged.interfaceNumber) + " (endpoints " +
               EndpointList(judged.endpoints) + ")";
    case InterfaceSource::Missing:
    case InterfaceSource::Malformed: break;
    }
    return "";
}

std::string NoteLine(const TransferNote& note)
{
    if (note.kind == TransferNote::Kind::OtherReportType) {
        return std::string(note.request == usb::kHidSetReport ? "SET_REPORT" : "GET_REPORT") + " of report type " +
               std::to_string(note.reportType) + " (" + Where(note.at) +
               "): not a report of the protocol, not fed to the model";
    }
    return note.label + " (" + Where(note.at) + "): " + OutcomeText(note.outcome) + ", not fed to the model";
}

std::string FlashLine(const FlashComparison& flash, int protocol)
{
    using Result = FlashComparison::Result;
    const std::string protocolName = "protocol " + std::to_string(protocol);
    const std::string range = HexAddress(flash.start) + " to " + HexAddress(flash.end - 1);
    switch (flash.result) {
    case Result::NotAsked: return "";
    case Result::NotReached: return "flash: not compared, the check stopped before the end of the download";
    case Result::Equal: return "flash: equal to the image from " + range + ", the bytes " + protocolName + " writes";
    case Result::Differs:
        return "flash: differs from the image in " + std::to_string(flash.differing) + " of the bytes from " + range +
               ", first at " + HexAddress(flash.firstDifference) + " (flash " + HexByte(flash.flashByte) +
               ", image " + HexByte(flash.imageByte) + ")";
    case Result::SizeDiffers:
        return "flash: the capture wrote an image of " + std::to_string(flash.flashSize) + " bytes, the image has " +
               std::to_string(flash.imageSize);
    case Result::OutOfRange:
        return "flash: the image has " + std::to_string(flash.imageSize) + " bytes, " + protocolName +
               " writes from " + HexAddress(flash.start);
    }
    return "";
}

void JudgedLines(const CaptureSummary& summary, const CheckVerdict& verdict, const DeviceVerdict& judged,
                 std::vector<std::string>& lines)
{
    const DeviceSummary& device = summary.devices[judged.device];
    const std::string model = "protocol " + std::to_string(judged.protocol) + " model";
    std::string header = "device " + Ids(verdict.vendorId, verdict.productId) + " (protocol " +
                         std::to_string(judged.protocol) + "): bus " + std::to_string(device.bus) + ", address " +
                         std::to_string(device.address) + " (" + Where(device.first) + ")";
    if (!device.described) header += ", named by its address: no descriptors in the capture";
    const std::string interface = InterfaceText(judged, device.described);
    lines.push_back(header + (interface.empty() ? "" : ", " + interface));
    if (judged.source == InterfaceSource::Malformed) {
        lines.push_back("its configuration descriptor cannot be read: " + device.configurationError +
                        "; nothing judged");
        return;
    }
    if (judged.source == InterfaceSource::Missing) {
        lines.push_back("its configuration has no HID interface of the protocol; nothing judged");
        return;
    }
    for (const TransferNote& note : judged.notes) lines.push_back(NoteLine(note));
    if (judged.notTaken > kMaxNotes) {
        lines.push_back("... and " + std::to_string(judged.notTaken - kMaxNotes) +
                        " more reports the device did not take");
    }
    if (judged.otherTraffic != 0) {
        lines.push_back("other traffic: " + Plural(judged.otherTraffic, "transfer", "transfers") +
                        " of other interfaces and endpoints, not judged");
    }
    if (judged.idle) {
        lines.push_back("no download: the host sent it no report");
        return;
    }
    const CheckStop& stop = judged.stop;
    if (stop.kind == CheckStop::Kind::Refused) {
        lines.push_back(stop.label + " refused by the " + model + " (" + Where(stop.at) + "): " + stop.reason);
        lines.push_back("  its bytes: " + codec::Hex(stop.bytes.data(), stop.bytes.size()));
    } else if (stop.kind == CheckStop::Kind::Truncated) {
        lines.push_back(stop.label + " (" + Where(stop.at) +
                        "): the capture kept only part of it (snapshot length), so it cannot be judged");
    } else {
        lines.push_back(std::string(judged.complete ? "conforms" : "conforms so far") + ": the " + model +
                        " took every report that the device took: " + std::to_string(judged.outputs) +
                        " output reports (" + std::to_string(judged.interruptOutputs) + " interrupt OUT, " +
                        std::to_string(judged.outputs - judged.interruptOutputs) + " SET_REPORT) and " +
                        std::to_string(judged.inputRequests) + " input requests; " +
                        std::to_string(judged.deviceInputs) + " input reports from the device");
        lines.push_back(judged.complete ? "the download is complete" : "the download is not complete");
    }
    const std::string flash = FlashLine(judged.flash, judged.protocol);
    if (!flash.empty()) lines.push_back(flash);
}

}  // namespace

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

std::string TimeText(const FrameTime& at)
{
    char text[64];
    std::snprintf(text, sizeof text, "%s%llu.%06u", at.negative ? "-" : "", static_cast<unsigned long long>(at.seconds),
                  static_cast<unsigned>(at.microseconds));
    return text;
}

std::string TransferTypeName(std::uint8_t type)
{
    switch (type) {
    case kTransferIsochronous: return "isochronous";
    case kTransferInterrupt: return "interrupt";
    case kTransferControl: return "control";
    case kTransferBulk: return "bulk";
    default: return "type " + std::to_string(type);
    }
}

std::vector<std::string> SummaryLines(const CaptureSummary& summary)
{
    std::vector<std::string> lines{CaptureLine(summary)};
    for (const DeviceSummary& device : summary.devices) DeviceLines(device, lines);
    if (summary.devices.empty()) lines.push_back("no USB device in the capture");
    return lines;
}

std::vector<std::string> VerdictLines(const CaptureSummary& summary, const CheckVerdict& verdict)
{
    std::vector<std::string> lines{CaptureLine(summary)};
    std::size_t conforming = 0;
    std::size_t idle = 0;
    for (const DeviceVerdict& judged : verdict.devices) {
        JudgedLines(summary, verdict, judged, lines);
        conforming += judged.conforms ? 1 : 0;
        idle += judged.idle ? 1 : 0;
    }
    if (verdict.devices.size() > 1) {
        const std::size_t failing = verdict.devices.size() - conforming - idle;
        lines.push_back(std::to_string(verdict.devices.size()) + " devices " +
                        Ids(verdict.vendorId, verdict.productId) + " in the capture: " + std::to_string(conforming) +
                        " conforming, " + std::to_string(failing) + " not conforming, " + std::to_string(idle) +
                        " without a download");
    }
    return lines;
}

std::string NoDeviceText(const CaptureSummary& summary, const CheckVerdict& verdict)
{
    const std::string ids = Ids(verdict.vendorId, verdict.productId);
    if (summary.usbLinkTypes.empty()) {
        return "no device " + ids + " in the capture: it holds no USB packets (" + std::to_string(summary.frames) +
               " frames)";
    }
    std::string described;
    std::string undescribed;
    for (const DeviceSummary& device : summary.devices) {
        const std::string place = "bus " + std::to_string(device.bus) + " address " + std::to_string(device.address);
        std::string& list = device.described ? described : undescribed;
        list += (list.empty() ? "" : ", ") + (device.described ? Ids(device.vendorId, device.productId) + " at " : "") +
                place;
    }
    std::string text = "no device " + ids;
    if (verdict.byAddress) {
        text += " at bus " + std::to_string(verdict.bus) + " address " + std::to_string(verdict.address);
    }
    text += " in the capture";
    if (!described.empty()) text += "; it describes " + described;
    if (!undescribed.empty()) {
        text += "; devices without descriptors (the capture began after their enumeration): " + undescribed +
                ", name one with --address BUS.DEV";
    }
    if (described.empty() && undescribed.empty()) text += ": it holds no transfer of any device";
    return text;
}

}  // namespace capture
