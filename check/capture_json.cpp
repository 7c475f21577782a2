#include "check/capture_json.h"

#include <cstdint>
#include <cstdio>

#include "capture/capture_format.h"
#include "check/capture_text.h"
#include "codec/hex_text.h"

namespace capture {
namespace {

// Writes one JSON value, commas and nesting taken care of: a value after a key or in an array.
class Json {
public:
    Json& Open(char bracket) { return Raw(std::string(1, bracket), true); }
    Json& Close(char bracket)
    {
        text_ += bracket;
        first_ = false;
        return *this;
    }
    Json& Key(const char* key)
    {
        Separate();
        Quote(key);
        text_ += ':';
        first_ = true;  // the value that follows takes no comma
        return *this;
    }
    Json& String(const std::string& value)
    {
        Separate();
        Quote(value);
        return *this;
    }
    Json& Number(std::uint64_t value) { return Raw(std::to_string(value), false); }
    Json& Bool(bool value) { return Raw(value ? "true" : "false", false); }
    Json& Null() { return Raw("null", false); }
    // A value whose text is a JSON number already ("0.003047").
    Json& Decimal(const std::string& value) { return Raw(value, false); }
    std::string Text() const { return text_; }

private:
    void Separate()
    {
        if (!first_) text_ += ',';
        first_ = false;
    }
    Json& Raw(const std::string& value, bool opens)
    {
        Separate();
        text_ += value;
        first_ = opens;
        return *this;
    }
    void Quote(const std::string& value)
    {
        text_ += '"';
        for (unsigned char c : value) {
            if (c == '"' || c == '\\') {
                text_ += '\\';
                text_ += static_cast<char>(c);
            } else if (c < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", c);
                text_ += escape;
            } else {
                text_ += static_cast<char>(c);
            }
        }
        text_ += '"';
    }

    std::string text_;
    bool first_ = true;
};

const char* OutcomeName(UsbOutcome outcome)
{
    switch (outcome) {
    case UsbOutcome::Pending: return "never completed";
    case UsbOutcome::Ok: return "ok";
    case UsbOutcome::Stalled: return "stalled";
    case UsbOutcome::Cancelled: return "cancelled";
    case UsbOutcome::Gone: return "device gone";
    case UsbOutcome::Error: return "failed";
    }
    return "";
}

const char* SourceName(InterfaceSource source)
{
    switch (source) {
    case InterfaceSource::AllTraffic: return "all traffic";
    case InterfaceSource::ReportDescriptor: return "report descriptor";
    case InterfaceSource::Configuration: return "configuration";
    case InterfaceSource::Missing: return "missing";
    case InterfaceSource::Malformed: return "malformed configuration";
    }
    return "";
}

const char* FlashName(FlashComparison::Result result)
{
    using Result = FlashComparison::Result;
    switch (result) {
    case Result::NotAsked: return "not asked";
    case Result::NotReached: return "not reached";
    case Result::Equal: return "equal";
    case Result::Differs: return "differs";
    case Result::SizeDiffers: return "size differs";
    case Result::OutOfRange: return "out of range";
    }
    return "";
}

void Place(Json& json, const FrameTime& at)
{
    json.Key("frame").Number(at.frame).Key("time").Decimal(TimeText(at));
}

void TextOrNull(Json& json, const char* key, const std::string& text)
{
    json.Key(key);
    if (text.empty()) json.Null();
    else json.String(text);
}

void Capture(Json& json, const CaptureSummary& summary)
{
    json.Key("capture").Open('{').Key("format").String(summary.format).Key("frames").Number(summary.frames);
    json.Key("linkTypes").Open('[');
    for (std::uint16_t linkType : summary.usbLinkTypes) json.Number(linkType);
    json.Close(']').Key("otherLinkTypes").Open('[');
    for (std::uint16_t linkType : summary.otherLinkTypes) json.Number(linkType);
    json.Close(']').Close('}');
}

void Interface(Json& json, const InterfaceSummary& interface)
{
    json.Open('{').Key("number").Number(interface.number).Key("alternate").Number(interface.alternate);
    json.Key("class").Number(interface.interfaceClass).Key("subclass").Number(interface.subclass);
    json.Key("protocol").Number(interface.protocol).Key("endpoints").Open('[');
    for (std::uint8_t endpoint : interface.endpoints) json.String(HexByte(endpoint));
    json.Close(']').Key("collections");
    if (!interface.reportDescriptorSeen) {
        json.Null();
    } else {
        json.Open('[');
        for (const codec::HidTopLevelCollection& collection : interface.collections) {
            json.Open('{').Key("usagePage").String(Hex16(collection.usagePage));
            json.Key("usage").String(Hex16(collection.usage)).Close('}');
        }
        json.Close(']');
    }
    TextOrNull(json, "reportDescriptorError", interface.reportDescriptorError);
    json.Close('}');
}

void Device(Json& json, const DeviceSummary& device)
{
    json.Open('{').Key("bus").Number(device.bus).Key("address").Number(device.address);
    Place(json, device.first);
    json.Key("described").Bool(device.described);
    TextOrNull(json, "vendorId", device.described ? Hex16(device.vendorId) : "");
    TextOrNull(json, "productId", device.described ? Hex16(device.productId) : "");
    TextOrNull(json, "manufacturer", device.manufacturer);
    TextOrNull(json, "product", device.product);
    TextOrNull(json, "serialNumber", device.serialNumber);
    json.Key("configured").Bool(device.configured);
    TextOrNull(json, "configurationError", device.configurationError);
    json.Key("interfaces").Open('[');
    for (const InterfaceSummary& interface : device.interfaces) Interface(json, interface);
    json.Close(']').Key("endpoints").Open('[');
    for (const EndpointTally& tally : device.endpoints) {
        json.Open('{').Key("endpoint").String(HexByte(tally.endpoint)).Key("type").String(TransferTypeName(tally.type));
        json.Key("transfers").Number(tally.transfers).Key("failed").Number(tally.failed).Close('}');
    }
    json.Close(']').Close('}');
}

void Summary(Json& json, const CaptureSummary& summary)
{
    Capture(json, summary);
    json.Key("devices").Open('[');
    for (const DeviceSummary& device : summary.devices) Device(json, device);
    json.Close(']');
}

void Note(Json& json, const TransferNote& note)
{
    json.Open('{').Key("kind").String(note.kind == TransferNote::Kind::NotTaken ? "not taken" : "other report type");
    TextOrNull(json, "label", note.label);
    Place(json, note.at);
    json.Key("outcome").String(OutcomeName(note.outcome));
    if (note.kind == TransferNote::Kind::OtherReportType) {
        json.Key("request").String(note.request == usb::kHidSetReport ? "SET_REPORT" : "GET_REPORT");
        json.Key("reportType").Number(note.reportType);
    }
    json.Close('}');
}

void Stop(Json& json, const CheckStop& stop)
{
    json.Key("stop");
    if (stop.kind == CheckStop::Kind::None) {
        json.Null();
        return;
    }
    json.Open('{').Key("kind").String(stop.kind == CheckStop::Kind::Refused ? "refused" : "truncated");
    json.Key("label").String(stop.label);
    Place(json, stop.at);
    TextOrNull(json, "reason", stop.reason);
    TextOrNull(json, "bytes", codec::Hex(stop.bytes.data(), stop.bytes.size()));
    json.Close('}');
}

void Flash(Json& json, const FlashComparison& flash)
{
    using Result = FlashComparison::Result;
    json.Key("flash");
    if (flash.result == Result::NotAsked) {
        json.Null();
        return;
    }
    json.Open('{').Key("result").String(FlashName(flash.result));
    if (flash.result == Result::Equal || flash.result == Result::Differs) {
        json.Key("from").Number(flash.start).Key("to").Number(flash.end - 1);
        json.Key("differing").Number(flash.differing);
    }
    if (flash.result == Result::Differs) json.Key("firstDifference").Number(flash.firstDifference);
    if (flash.result == Result::SizeDiffers || flash.result == Result::OutOfRange) {
        json.Key("flashSize").Number(flash.flashSize).Key("imageSize").Number(flash.imageSize);
    }
    json.Close('}');
}

const char* StatusName(CheckStatus status)
{
    switch (status) {
    case CheckStatus::Conforms: return "conforms";
    case CheckStatus::DoesNotConform: return "does not conform";
    case CheckStatus::NoSuchDevice: return "no such device";
    }
    return "";
}

void Judged(Json& json, const CaptureSummary& summary, const DeviceVerdict& judged)
{
    const DeviceSummary& device = summary.devices[judged.device];
    json.Open('{').Key("device").Number(judged.device).Key("bus").Number(device.bus);
    json.Key("address").Number(device.address).Key("protocol").Number(static_cast<std::uint64_t>(judged.protocol));
    json.Key("interfaceFrom").String(SourceName(judged.source)).Key("interface");
    const bool known = judged.source == InterfaceSource::ReportDescriptor ||
                       judged.source == InterfaceSource::Configuration;
    if (known) json.Number(judged.interfaceNumber);
    else json.Null();
    json.Key("conforms").Bool(judged.conforms).Key("idle").Bool(judged.idle).Key("complete").Bool(judged.complete);
    json.Key("outputReports").Number(judged.outputs).Key("interruptOut").Number(judged.interruptOutputs);
    json.Key("inputRequests").Number(judged.inputRequests).Key("deviceInputs").Number(judged.deviceInputs);
    json.Key("otherTraffic").Number(judged.otherTraffic).Key("notTaken").Number(judged.notTaken);
    json.Key("notes").Open('[');
    for (const TransferNote& note : judged.notes) Note(json, note);
    json.Close(']');
    Stop(json, judged.stop);
    Flash(json, judged.flash);
    json.Close('}');
}

}  // namespace

std::string SummaryJson(const CaptureSummary& summary)
{
    Json json;
    json.Open('{');
    Summary(json, summary);
    return json.Close('}').Text();
}

std::string CheckJson(const CaptureSummary& summary, const CheckVerdict& verdict)
{
    Json json;
    json.Open('{');
    Summary(json, summary);
    json.Key("check").Open('{').Key("vendorId").String(Hex16(verdict.vendorId));
    json.Key("productId").String(Hex16(verdict.productId));
    TextOrNull(json, "address",
               verdict.byAddress ? std::to_string(verdict.bus) + "." + std::to_string(verdict.address) : "");
    json.Key("status").String(StatusName(verdict.status));
    json.Key("conforms").Bool(verdict.status == CheckStatus::Conforms).Key("devices").Open('[');
    for (const DeviceVerdict& judged : verdict.devices) Judged(json, summary, judged);
    return json.Close(']').Close('}').Close('}').Text();
}

std::string ErrorJson(const CaptureError& error)
{
    Json json;
    json.Open('{').Key("error").Open('{');
    const char* unit = error.unit == CaptureError::Unit::Block    ? "block"
                       : error.unit == CaptureError::Unit::Record ? "record"
                                                                  : "file";
    json.Key("unit").String(unit);
    if (error.unit != CaptureError::Unit::File) {
        json.Key("number").Number(error.number);
        TextOrNull(json, "blockType", error.blockType);
        json.Key("offset").Number(error.offset);
    }
    json.Key("reason").String(error.reason).Key("text").String(ErrorText(error));
    return json.Close('}').Close('}').Text();
}

}  // namespace capture
