#include "codec/hid_report_descriptor.h"

#include <array>

namespace codec {
namespace {

// Item prefix byte of a short item: bits 0-1 the data size code, bits 2-3 the type, bits 4-7
// the tag. The size codes 0, 1, 2 and 3 stand for 0, 1, 2 and 4 data bytes.
constexpr std::uint8_t kSizeMask = 0x03;
constexpr int kTypeShift = 2;
constexpr std::uint8_t kTypeMask = 0x03;
constexpr int kTagShift = 4;
constexpr std::size_t kDataBytes[4] = {0, 1, 2, 4};

// A long item: the prefix 0xFE, a data size byte, a tag byte, then the data.
constexpr std::uint8_t kLongItemPrefix = 0xFE;
constexpr std::size_t kLongItemHeader = 3;

enum ItemType : std::uint8_t { kMain = 0, kGlobal = 1, kLocal = 2, kReserved = 3 };

enum MainTag : std::uint8_t {
    kInput = 0x8,
    kOutput = 0x9,
    kCollection = 0xA,
    kFeature = 0xB,
    kEndCollection = 0xC,
};

enum GlobalTag : std::uint8_t {
    kUsagePage = 0x0,
    kReportSize = 0x7,
    kReportId = 0x8,
    kReportCount = 0x9,
    kPush = 0xA,
    kPop = 0xB,
};

enum LocalTag : std::uint8_t {
    kUsage = 0x0,
    kUsageMinimum = 0x1,
};

// A usage of 4 data bytes carries its own usage page in the high 16 bits.
constexpr std::size_t kExtendedUsageBytes = 4;

// Linux's HID core keeps at most 4 pushed global states and refuses a descriptor that pushes
// more; a deeper stack would give a node the kernel never makes.
constexpr std::size_t kMaxPushedStates = 4;

// Nesting that no real device needs; it bounds the parser's work on hostile input.
constexpr int kMaxCollectionDepth = 64;

// Report ids are one byte; id 0 is reserved (it means "no report id").
constexpr std::uint32_t kMaxReportId = 0xFF;

// A report length must fit the 16-bit length field with its id byte.
constexpr std::uint64_t kMaxReportBytes = 0xFFFE;

enum Direction { kIn = 0, kOut = 1, kFeat = 2, kDirections = 3 };

struct GlobalState {
    std::uint32_t usagePage = 0;
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint32_t reportId = 0;
};

// The bits of each report of the top-level collection being parsed, by direction and id.
struct ReportBits {
    std::array<std::array<std::uint64_t, 256>, kDirections> bits{};
    std::array<std::array<bool, 256>, kDirections> seen{};
};

struct Parser {
    Parser(const std::uint8_t* bytes, std::size_t length, std::vector<HidTopLevelCollection>& out,
           std::string& reason)
        : data(bytes), size(length), collections(out), error(reason)
    {
    }

    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    GlobalState global;
    std::vector<GlobalState> pushed;
    bool haveUsage = false;
    std::uint32_t usage = 0;
    std::size_t usageBytes = 0;
    bool haveUsageMinimum = false;
    std::uint32_t usageMinimum = 0;
    std::size_t usageMinimumBytes = 0;
    int depth = 0;
    HidTopLevelCollection current;
    ReportBits reports;
    std::vector<HidTopLevelCollection>& collections;
    std::string& error;

    bool Fail(const std::string& what, std::size_t offset)
    {
        error = what + " at byte " + std::to_string(offset);
        return false;
    }
};

std::uint32_t Unsigned(const std::uint8_t* bytes, std::size_t count)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < count; ++i) value |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
    return value;
}

void ClearLocals(Parser& p)
{
    p.haveUsage = false;
    p.haveUsageMinimum = false;
}

// The usage page and usage of a collection: its first usage (or usage minimum), with the usage
// page in force at the collection item unless the usage carries its own.
void NameCollection(Parser& p, HidTopLevelCollection& collection)
{
    std::uint32_t usage = 0;
    std::size_t bytes = 0;
    if (p.haveUsage) {
        usage = p.usage;
        bytes = p.usageBytes;
    } else if (p.haveUsageMinimum) {
        usage = p.usageMinimum;
        bytes = p.usageMinimumBytes;
    }
    collection.usage = static_cast<std::uint16_t>(usage & 0xFFFF);
    collection.usagePage = static_cast<std::uint16_t>(bytes == kExtendedUsageBytes ? usage >> 16 : p.global.usagePage);
}

void NoteId(std::vector<std::uint8_t>& ids, std::uint8_t id)
{
    if (id == 0) return;
    for (std::uint8_t known : ids) {
        if (known == id) return;
    }
    ids.push_back(id);
}

bool AddReportItem(Parser& p, Direction direction, std::size_t offset)
{
    if (p.depth == 0) return true;  // data outside every collection belongs to none
    const std::uint8_t id = static_cast<std::uint8_t>(p.global.reportId);
    std::uint64_t& bits = p.reports.bits[direction][id];
    bits += static_cast<std::uint64_t>(p.global.reportSize) * p.global.reportCount;
    if ((bits + 7) / 8 > kMaxReportBytes) return p.Fail("report longer than 65534 bytes", offset);
    p.reports.seen[direction][id] = true;
    std::vector<std::uint8_t>* ids[kDirections] = {&p.current.inputReportIds, &p.current.outputReportIds,
                                                   &p.current.featureReportIds};
    NoteId(*ids[direction], id);
    return true;
}

// 1 + the largest report of the direction, or 0 when the collection has none.
std::uint16_t ReportByteLength(const ReportBits& reports, Direction direction)
{
    std::uint64_t largest = 0;
    bool any = false;
    for (std::size_t id = 0; id < 256; ++id) {
        if (!reports.seen[direction][id]) continue;
        any = true;
        const std::uint64_t bytes = (reports.bits[direction][id] + 7) / 8;
        if (bytes > largest) largest = bytes;
    }
    return any ? static_cast<std::uint16_t>(largest + 1) : 0;
}

bool MainItem(Parser& p, std::uint8_t tag, std::uint32_t value, std::size_t offset)
{
    switch (tag) {
    case kInput: if (!AddReportItem(p, kIn, offset)) return false; break;
    case kOutput: if (!AddReportItem(p, kOut, offset)) return false; break;
    case kFeature: if (!AddReportItem(p, kFeat, offset)) return false; break;
    case kCollection:
        if (p.depth == kMaxCollectionDepth) return p.Fail("collections nested too deep", offset);
        if (p.depth == 0) {
            p.current = HidTopLevelCollection{};
            p.reports = ReportBits{};
            NameCollection(p, p.current);
        }
        ++p.depth;
        (void)value;  // the collection's type (application, logical, ...) does not matter here
        break;
    case kEndCollection:
        if (p.depth == 0) return p.Fail("end of a collection that was never opened", offset);
        if (--p.depth == 0) {
            p.current.inputReportByteLength = ReportByteLength(p.reports, kIn);
            p.current.outputReportByteLength = ReportByteLength(p.reports, kOut);
            p.current.featureReportByteLength = ReportByteLength(p.reports, kFeat);
            p.collections.push_back(p.current);
        }
        break;
    default: break;  // reserved main tags carry nothing that matters here
    }
    ClearLocals(p);
    return true;
}

bool GlobalItem(Parser& p, std::uint8_t tag, std::uint32_t value, std::size_t offset)
{
    switch (tag) {
    case kUsagePage: p.global.usagePage = value; break;
    case kReportSize: p.global.reportSize = value; break;
    case kReportCount: p.global.reportCount = value; break;
    case kReportId:
        if (value == 0 || value > kMaxReportId) return p.Fail("report id " + std::to_string(value), offset);
        p.global.reportId = value;
        break;
    case kPush:
        if (p.pushed.size() == kMaxPushedStates) return p.Fail("more than 4 pushed global states", offset);
        p.pushed.push_back(p.global);
        break;
    case kPop:
        if (p.pushed.empty()) return p.Fail("pop without push", offset);
        p.global = p.pushed.back();
        p.pushed.pop_back();
        break;
    default: break;  // logical and physical ranges, units: no effect on lengths
    }
    return true;
}

void LocalItem(Parser& p, std::uint8_t tag, std::uint32_t value, std::size_t dataBytes)
{
    if (tag == kUsage && !p.haveUsage) {
        p.haveUsage = true;
        p.usage = value;
        p.usageBytes = dataBytes;
    } else if (tag == kUsageMinimum && !p.haveUsageMinimum) {
        p.haveUsageMinimum = true;
        p.usageMinimum = value;
        p.usageMinimumBytes = dataBytes;
    }
}

bool NextItem(Parser& p)
{
    const std::size_t offset = p.at;
    const std::uint8_t prefix = p.data[p.at];
    if (prefix == kLongItemPrefix) {
        if (p.size - p.at < kLongItemHeader) return p.Fail("long item cut short", offset);
        const std::size_t dataBytes = p.data[p.at + 1];
        if (p.size - p.at - kLongItemHeader < dataBytes) return p.Fail("long item cut short", offset);
        p.at += kLongItemHeader + dataBytes;  // long items carry nothing that matters here
        return true;
    }
    const std::size_t dataBytes = kDataBytes[prefix & kSizeMask];
    if (p.size - p.at - 1 < dataBytes) return p.Fail("item cut short", offset);
    const std::uint32_t value = Unsigned(p.data + p.at + 1, dataBytes);
    p.at += 1 + dataBytes;
    const std::uint8_t tag = static_cast<std::uint8_t>(prefix >> kTagShift);
    switch ((prefix >> kTypeShift) & kTypeMask) {
    case kMain: return MainItem(p, tag, value, offset);
    case kGlobal: return GlobalItem(p, tag, value, offset);
    case kLocal: LocalItem(p, tag, value, dataBytes); return true;
    case kReserved: default: return true;
    }
}

}  // namespace

bool ParseReportDescriptor(const std::uint8_t* descriptor, std::size_t size,
                           std::vector<HidTopLevelCollection>& collections, std::string& error)
{
    collections.clear();
    error.clear();
    if (descriptor == nullptr && size != 0) {
        error = "no descriptor";
        return false;
    }
    Parser parser(descriptor, size, collections, error);
    while (parser.at < size) {
        if (!NextItem(parser)) return false;
    }
    if (parser.depth != 0) return parser.Fail("collection not closed", size);
    if (collections.empty()) {
        error = "no top-level collection";
        return false;
    }
    return true;
}

}  // namespace codec
