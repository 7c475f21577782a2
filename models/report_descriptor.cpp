#include "models/report_descriptor.h"

namespace models {
namespace {

// Short items of the HID report descriptor: the prefix byte is tag | type | size code, where
// the size code 1 means one data byte and 2 two data bytes.
enum Item : std::uint8_t {
    kUsagePage = 0x04,       // global
    kLogicalMinimum = 0x14,  // global
    kLogicalMaximum = 0x24,  // global
    kReportSize = 0x74,      // global, in bits
    kReportId = 0x84,        // global
    kReportCount = 0x94,     // global
    kUsage = 0x08,           // local
    kInput = 0x80,           // main
    kOutput = 0x90,          // main
    kCollection = 0xA0,      // main
    kEndCollection = 0xC0,   // main, no data
};

constexpr std::uint8_t kApplicationCollection = 0x01;
constexpr std::uint8_t kDataVariableAbsolute = 0x02;
constexpr std::uint16_t kVendorPage = 0xFF00;
constexpr std::uint16_t kVendorUsage = 0x0001;
constexpr std::uint8_t kByteBits = 8;
constexpr std::uint16_t kByteMaximum = 0x00FF;  // two data bytes, so that it reads as positive

void Put(std::vector<std::uint8_t>& out, std::uint8_t item, std::uint16_t value)
{
    if (value <= 0xFF) {
        out.push_back(static_cast<std::uint8_t>(item | 1));
        out.push_back(static_cast<std::uint8_t>(value));
    } else {
        out.push_back(static_cast<std::uint8_t>(item | 2));
        out.push_back(static_cast<std::uint8_t>(value & 0xFF));
        out.push_back(static_cast<std::uint8_t>(value >> 8));
    }
}

void PutTwoBytes(std::vector<std::uint8_t>& out, std::uint8_t item, std::uint16_t value)
{
    out.push_back(static_cast<std::uint8_t>(item | 2));
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

// One report of length bytes (with its id byte) of 8-bit vendor values.
void PutReport(std::vector<std::uint8_t>& out, std::uint8_t mainItem, bool numbered, std::uint8_t id,
               std::uint16_t length)
{
    if (length < 2) return;
    if (numbered) Put(out, kReportId, id);
    Put(out, kUsagePage, kVendorPage);
    Put(out, kUsage, kVendorUsage);
    Put(out, kLogicalMinimum, 0);
    PutTwoBytes(out, kLogicalMaximum, kByteMaximum);
    Put(out, kReportSize, kByteBits);
    Put(out, kReportCount, static_cast<std::uint16_t>(length - 1));
    Put(out, mainItem, kDataVariableAbsolute);
}

}  // namespace

bool NumbersReports(const HidCollection& collection)
{
    return collection.inputReportId != 0 || collection.outputReportId != 0;
}

std::vector<std::uint8_t> ReportDescriptor(const HidCollection& collection)
{
    std::vector<std::uint8_t> out;
    const bool numbered = NumbersReports(collection);
    Put(out, kUsagePage, collection.usagePage);
    Put(out, kUsage, collection.usage);
    Put(out, kCollection, kApplicationCollection);
    PutReport(out, kInput, numbered, collection.inputReportId, collection.inputLength);
    PutReport(out, kOutput, numbered, collection.outputReportId, collection.outputLength);
    out.push_back(kEndCollection);
    return out;
}

std::vector<std::uint8_t> ReportDescriptor(const std::vector<HidCollection>& collections)
{
    std::vector<std::uint8_t> out;
    for (const HidCollection& collection : collections) {
        const std::vector<std::uint8_t> one = ReportDescriptor(collection);
        out.insert(out.end(), one.begin(), one.end());
    }
    return out;
}

}  // namespace models
