#include "capture/capture_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "capture/capture_format.h"

namespace capture {
namespace {


constexpr std::uint32_t kByteOrderMagicSwapped = 0x4D3C2B1A;
constexpr std::size_t kBlockOverhead = 12;  // type, total length, total length
constexpr std::size_t kSectionBodyMinimum = 16;  // magic, major, minor, section length
constexpr std::size_t kInterfaceBodyMinimum = 8;  // link type, reserved, snapshot length
constexpr std::size_t kEnhancedBodyMinimum = 20;  // interface, time high and low, lengths
constexpr std::size_t kSimpleBodyMinimum = 4;
constexpr std::uint8_t kResolutionPowerOfTwo = 0x80;
constexpr std::uint8_t kMaxDecimalResolution = 19;  // 10^19 units per second still fit 64 bits
constexpr std::uint8_t kMaxBinaryResolution = 63;
constexpr std::uint64_t kDefaultUnitsPerSecond = 1000000;

// Classic pcap: the file header and each record's header.
constexpr std::uint32_t kPcapMicroseconds = 0xA1B2C3D4;
constexpr std::uint32_t kPcapNanoseconds = 0xA1B23C4D;
constexpr std::size_t kPcapFileHeader = 24;
constexpr std::size_t kPcapLinkTypeField = 20;
constexpr std::size_t kPcapRecordHeader = 16;
constexpr std::uint32_t kPcapLinkTypeMask = 0x0000FFFF;  // the upper bits may carry FCS flags

std::string HexOffset(std::size_t offset)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%zx", offset);
    return text;
}

// Fixed-width numbers in the byte order of the section or file.
struct Endian {
    bool big = false;

    std::uint16_t U16(const std::uint8_t* p) const
    {
        return big ? static_cast<std::uint16_t>(p[0] << 8 | p[1]) : static_cast<std::uint16_t>(p[1] << 8 | p[0]);
    }
    std::uint32_t U32(const std::uint8_t* p) const
    {
        const std::uint32_t a = U16(p);
        const std::uint32_t b = U16(p + 2);
        return big ? (a << 16 | b) : (b << 16 | a);
    }
    std::uint64_t U64(const std::uint8_t* p) const
    {
        const std::uint64_t a = U32(p);
        const std::uint64_t b = U32(p + 4);
        return big ? (a << 32 | b) : (b << 32 | a);
    }
};

constexpr Endian kLittle{false};

struct Interface {
    std::uint16_t linkType = 0;
    std::uint32_t snapLength = 0;
    std::uint64_t unitsPerSecond = kDefaultUnitsPerSecond;
    std::int64_t offsetSeconds = 0;
};

// Where a block or record is: an error without its reason yet.
using Place = CaptureError;

// Fails with the reason at a place.
bool Fail(CaptureError& error, const Place& where, std::string reason)
{
    error = where;
    error.reason = std::move(reason);
    return false;
}

// What a packet record gives: where it is, its time and its bytes.
struct Record {
    Place where;
    std::uint16_t linkType;
    std::int64_t seconds;
    std::uint32_t nanoseconds;
    const std::uint8_t* bytes;
    std::size_t captured;
    std::size_t original;
};

void NoteLinkType(CaptureContents& contents, std::uint16_t linkType)
{
    const bool usb = linkType == kLinkUsbLinux || linkType == kLinkUsbLinuxMmapped || linkType == kLinkUsbPcap;
    std::vector<std::uint16_t>& list = usb ? contents.usbLinkTypes : contents.otherLinkTypes;
    if (std::find(list.begin(), list.end(), linkType) == list.end()) list.push_back(linkType);
}

UsbOutcome UsbmonOutcome(std::int64_t status)
{
    switch (status) {
    case 0: return UsbOutcome::Ok;
    case kErrnoPipe: return UsbOutcome::Stalled;
    case kErrnoNoEntry:
    case kErrnoConnReset: return UsbOutcome::Cancelled;
    case kErrnoNoDevice:
    case kErrnoShutdown: return UsbOutcome::Gone;
    default: return UsbOutcome::Error;
    }
}

UsbOutcome UsbPcapOutcome(std::uint32_t status)
{
    if ((status & kUsbdErrorBits) != kUsbdErrorBits) return UsbOutcome::Ok;  // success or pending
    switch (status) {
    case kUsbdStallPid:
    case kUsbdEndpointHalted: return UsbOutcome::Stalled;
    case kUsbdCanceled: return UsbOutcome::Cancelled;
    case kUsbdDeviceGone: return UsbOutcome::Gone;
    default: return UsbOutcome::Error;
    }
}

// The data after a header: what the file kept of dataLength bytes.
void TakeData(UsbPacket& packet, const Record& record, std::size_t headerLength, std::size_t dataLength)
{
    const std::size_t kept = std::min(dataLength, record.captured - headerLength);
    packet.data.assign(record.bytes + headerLength, record.bytes + headerLength + kept);
    packet.truncated = kept < dataLength;
}

bool ParseUsbmon(const Record& record, const Endian& endian, UsbPacket& packet, CaptureError& error)
{
    const std::size_t header = record.linkType == kLinkUsbLinux ? UsbmonField::kShortSize : UsbmonField::kSize;
    if (record.captured < header) {
        return Fail(error, record.where,
                    "usbmon header: " + std::to_string(record.captured) + " bytes captured, the header has " +
                    std::to_string(header));
    }
    const std::uint8_t* p = record.bytes;
    packet.id = endian.U64(p + UsbmonField::kId);
    const char type = static_cast<char>(p[UsbmonField::kType]);
    packet.transferType = p[UsbmonField::kTransfer];
    packet.endpoint = p[UsbmonField::kEndpoint];
    packet.address = p[UsbmonField::kDevice];
    packet.bus = endian.U16(p + UsbmonField::kBus);
    packet.status = static_cast<std::int32_t>(endian.U32(p + UsbmonField::kStatus));
    switch (type) {
    case kUsbmonSubmit:
        packet.event = UsbEvent::Submit;
        packet.outcome = UsbOutcome::Pending;
        break;
    case kUsbmonComplete:
        packet.event = UsbEvent::Complete;
        packet.outcome = UsbmonOutcome(packet.status);
        break;
    case kUsbmonError:
        packet.event = UsbEvent::SubmitError;
        packet.outcome = packet.status == 0 ? UsbOutcome::Error : UsbmonOutcome(packet.status);
        break;
    default:
        return Fail(error, record.where,
                    "usbmon event type 0x" + HexOffset(static_cast<std::uint8_t>(type)).substr(2) +
                    " (expected 'S', 'C' or 'E')");
    }
    packet.hasSetup =
        type == kUsbmonSubmit && packet.transferType == kTransferControl && p[UsbmonField::kSetupFlag] == 0;
    if (packet.hasSetup) {
        std::copy(p + UsbmonField::kSetup, p + UsbmonField::kSetup + usb::kSetupLength, packet.setup.begin());
    }
    TakeData(packet, record, header, endian.U32(p + UsbmonField::kCaptured));
    return true;
}

bool ParseUsbPcap(const Record& record, UsbPacket& packet, CaptureError& error)
{
    if (record.captured < UsbPcapField::kSize) {
        return Fail(error, record.where,
                    "USBPcap header: " + std::to_string(record.captured) +
                    " bytes captured, the header has at least " + std::to_string(UsbPcapField::kSize));
    }
    const std::uint8_t* p = record.bytes;
    const std::size_t headerLength = kLittle.U16(p + UsbPcapField::kHeaderLength);
    if (headerLength < UsbPcapField::kSize || headerLength > record.captured) {
        return Fail(error, record.where,
                    "USBPcap header length " + std::to_string(headerLength) + " (" + std::to_string(record.captured) +
                    " bytes captured, the header has at least " + std::to_string(UsbPcapField::kSize) + ")");
    }
    packet.id = kLittle.U64(p + UsbPcapField::kIrpId);
    const std::uint32_t status = kLittle.U32(p + UsbPcapField::kStatus);
    packet.status = status;
    const bool fromDevice = (p[UsbPcapField::kInfo] & kInfoFromDevice) != 0;
    packet.bus = kLittle.U16(p + UsbPcapField::kBus);
    packet.address = kLittle.U16(p + UsbPcapField::kDevice);
    packet.endpoint = p[UsbPcapField::kEndpoint];
    packet.transferType = p[UsbPcapField::kTransfer];
    packet.event = fromDevice ? UsbEvent::Complete : UsbEvent::Submit;
    packet.outcome = fromDevice ? UsbPcapOutcome(status) : UsbOutcome::Pending;
    TakeData(packet, record, headerLength, kLittle.U32(p + UsbPcapField::kDataLength));
    if (packet.transferType != kTransferControl || fromDevice) return true;
    if (headerLength <= UsbPcapField::kControlStage) {
        return Fail(error, record.where,
                    "USBPcap control header of " + std::to_string(headerLength) + " bytes has no stage byte");
    }
    const std::uint8_t stage = p[UsbPcapField::kControlStage];
    if (stage == kStageData) {
        packet.event = UsbEvent::SubmitData;
        return true;
    }
    if (stage != kStageSetup) return true;
    if (packet.data.size() < usb::kSetupLength) {
        return Fail(error, record.where,
                    "USBPcap setup stage with " + std::to_string(packet.data.size()) +
                    " bytes, a setup packet has 8");
    }
    packet.hasSetup = true;
    std::copy(packet.data.begin(), packet.data.begin() + usb::kSetupLength, packet.setup.begin());
    packet.data.erase(packet.data.begin(), packet.data.begin() + usb::kSetupLength);
    return true;
}

// One packet record of any format: a USB packet for the contents, or counted and skipped.
bool TakeRecord(const Record& record, const Endian& endian, CaptureContents& contents, CaptureError& error)
{
    if (++contents.frames == 1) {
        contents.firstSeconds = record.seconds;
        contents.firstNanoseconds = record.nanoseconds;
    }
    NoteLinkType(contents, record.linkType);
    if (record.captured > record.original) {
        return Fail(error, record.where,
                    "captured length " + std::to_string(record.captured) + " exceeds the packet's length " +
                    std::to_string(record.original));
    }
    UsbPacket packet;
    packet.frame = contents.frames;
    packet.seconds = record.seconds;
    packet.nanoseconds = record.nanoseconds;
    bool parsed = true;
    if (record.linkType == kLinkUsbPcap) parsed = ParseUsbPcap(record, packet, error);
    else if (record.linkType == kLinkUsbLinux || record.linkType == kLinkUsbLinuxMmapped)
        parsed = ParseUsbmon(record, endian, packet, error);
    else return true;
    if (!parsed) return false;
    // A packet cut short by the snapshot length says so.
    if (record.captured < record.original && !packet.truncated) packet.truncated = true;
    contents.packets.push_back(std::move(packet));
    return true;
}

// Time stamp units since 1970 -> seconds and nanoseconds.
void SplitTime(std::uint64_t units, const Interface& interface, std::int64_t& seconds, std::uint32_t& nanoseconds)
{
    const std::uint64_t whole = units / interface.unitsPerSecond;
    const std::uint64_t fraction = units % interface.unitsPerSecond;
    // Unsigned, so that a hostile offset wraps instead of overflowing.
    seconds = static_cast<std::int64_t>(whole + static_cast<std::uint64_t>(interface.offsetSeconds));
    // In floating point: fraction * 10^9 does not fit 64 bits for the finest resolutions, and
    // 32-bit targets have no wider integer.
    const long double ns =
        static_cast<long double>(fraction) * 1e9L / static_cast<long double>(interface.unitsPerSecond);
    nanoseconds = ns < 999999999.0L ? static_cast<std::uint32_t>(ns) : 999999999u;
}

const char* BlockName(std::uint32_t type)
{
    switch (type) {
    case kSectionHeaderBlock: return "section header";
    case kInterfaceDescriptionBlock: return "interface description";
    case kObsoletePacketBlock: return "packet";
    case kSimplePacketBlock: return "simple packet";
    case kNameResolutionBlock: return "name resolution";
    case kInterfaceStatisticsBlock: return "interface statistics";
    case kEnhancedPacketBlock: return "enhanced packet";
    case kDecryptionSecretsBlock: return "decryption secrets";
    default: return "unknown type";
    }
}

class PcapngReader {
public:
    PcapngReader(const std::uint8_t* data, std::size_t size, CaptureContents& contents)
        : data_(data), size_(size), contents_(contents)
    {
    }

    bool Read(CaptureError& error)
    {
        std::size_t offset = 0;
        std::uint64_t number = 0;
        while (offset < size_) {
            ++number;
            if (!ReadBlock(offset, number, error)) return false;
        }
        return true;
    }

private:
    static Place Where(std::uint64_t number, const char* type, std::size_t offset)
    {
        Place place;
        place.unit = CaptureError::Unit::Block;
        place.number = number;
        place.blockType = type;
        place.offset = offset;
        return place;
    }

    bool ReadBlock(std::size_t& offset, std::uint64_t number, CaptureError& error)
    {
        const std::size_t left = size_ - offset;
        const std::uint8_t* block = data_ + offset;
        if (left < kBlockOverhead) {
            return Fail(error, Where(number, "", offset),
                        "truncated, " + std::to_string(left) + " bytes left, a block has at least 12");
        }
        std::uint32_t type = endian_.U32(block);
        if (type == kSectionHeaderBlock) {
            if (left < kBlockOverhead + 4) {
                return Fail(error, Where(number, BlockName(type), offset), "truncated before its byte-order magic");
            }
            const std::uint32_t magic = kLittle.U32(block + 8);
            if (magic == kByteOrderMagic) endian_.big = false;
            else if (magic == kByteOrderMagicSwapped) endian_.big = true;
            else {
                return Fail(error, Where(number,
                            BlockName(type), offset), "byte-order magic " + HexOffset(magic) +
                            " is not 0x1a2b3c4d");
            }
        } else if (!inSection_) {
            return Fail(error, Where(number, BlockName(type), offset), "a block before the first section header");
        }
        const std::uint32_t length = endian_.U32(block + 4);
        const Place where = Where(number, BlockName(type), offset);
        if (length < kBlockOverhead || length % 4 != 0) {
            return Fail(error, where, "total length " + std::to_string(length) + " (at least 12, a multiple of 4)");
        }
        if (length > left) {
            return Fail(error, where,
                        "truncated, the block has " + std::to_string(length) + " bytes, the file " +
                        std::to_string(left) + " from there");
        }
        if (endian_.U32(block + length - 4) != length) {
            return Fail(error, where,
                        "trailing total length " + std::to_string(endian_.U32(block + length - 4)) +
                        " differs from the leading " + std::to_string(length));
        }
        const std::uint8_t* body = block + 8;
        const std::size_t bodyLength = length - kBlockOverhead;
        offset += length;
        switch (type) {
        case kSectionHeaderBlock: return Section(where, body, bodyLength, error);
        case kInterfaceDescriptionBlock: return InterfaceBlock(where, body, bodyLength, error);
        case kEnhancedPacketBlock: return EnhancedPacket(where, body, bodyLength, false, error);
        case kSimplePacketBlock: return SimplePacket(where, body, bodyLength, error);
        case kObsoletePacketBlock: return EnhancedPacket(where, body, bodyLength, true, error);
        default: return true;  // statistics, names, secrets, custom and unknown blocks carry no packets
        }
    }

    bool Section(const Place& where, const std::uint8_t* body, std::size_t length, CaptureError& error)
    {
        if (length < kSectionBodyMinimum) {
            return Fail(error, where,
                        "body of " + std::to_string(length) + " bytes, a section header has at least 16");
        }
        const std::uint16_t major = endian_.U16(body + 4);
        if (major != 1) {
            return Fail(error, where, "pcapng version " + std::to_string(major) + " (this reader knows version 1)");
        }
        inSection_ = true;
        interfaces_.clear();
        return true;
    }

    bool InterfaceBlock(const Place& where, const std::uint8_t* body, std::size_t length, CaptureError& error)
    {
        if (length < kInterfaceBodyMinimum) {
            return Fail(error, where,
                        "body of " + std::to_string(length) + " bytes, an interface description has at least 8");
        }
        Interface interface;
        interface.linkType = endian_.U16(body);
        interface.snapLength = endian_.U32(body + 4);
        std::size_t at = kInterfaceBodyMinimum;
        while (at < length) {
            if (length - at < 4) {
                return Fail(error, where, "option header truncated at body offset " + std::to_string(at));
            }
            const std::uint16_t code = endian_.U16(body + at);
            const std::size_t valueLength = endian_.U16(body + at + 2);
            at += 4;
            if (code == kOptionEnd) break;
            if (valueLength > length - at) {
                return Fail(error, where,
                            "option " + std::to_string(code) + " of " + std::to_string(valueLength) +
                            " bytes runs past the block");
            }
            if (!InterfaceOption(where, code, body + at, valueLength, interface, error)) return false;
            at += (valueLength + 3) / 4 * 4;
        }
        interfaces_.push_back(interface);
        return true;
    }

    bool InterfaceOption(const Place& where, std::uint16_t code, const std::uint8_t* value,
                         std::size_t length, Interface& interface, CaptureError& error)
    {
        if (code == kOptionIfTimeResolution) {
            if (length < 1) {
                return Fail(error, where, "empty if_tsresol option");
            }
            const std::uint8_t resolution = value[0];
            const std::uint8_t exponent = resolution & ~kResolutionPowerOfTwo;
            if (resolution & kResolutionPowerOfTwo) {
                if (exponent > kMaxBinaryResolution) {
                    return Fail(error, where, "if_tsresol 2^-" + std::to_string(exponent) + " is finer than 2^-63");
                }
                interface.unitsPerSecond = std::uint64_t{1} << exponent;
            } else {
                if (exponent > kMaxDecimalResolution) {
                    return Fail(error, where, "if_tsresol 10^-" + std::to_string(exponent) + " is finer than 10^-19");
                }
                interface.unitsPerSecond = 1;
                for (std::uint8_t i = 0; i < exponent; ++i) interface.unitsPerSecond *= 10;
            }
        } else if (code == kOptionIfTimeOffset) {
            if (length < 8) {
                return Fail(error, where, "if_tsoffset of " + std::to_string(length) + " bytes, it has 8");
            }
            interface.offsetSeconds = static_cast<std::int64_t>(endian_.U64(value));
        }
        return true;
    }

    const Interface* InterfaceOf(const Place& where, std::uint32_t id, CaptureError& error) const
    {
        if (id >= interfaces_.size()) {
            Fail(error, where, "interface " + std::to_string(id) + ", the section describes " +
                                   std::to_string(interfaces_.size()));
            return nullptr;
        }
        return &interfaces_[id];
    }

    bool Packet(const Place& where, const Interface& interface, std::uint64_t time,
                const std::uint8_t* bytes, std::size_t captured, std::size_t original, CaptureError& error)
    {
        Record record{where, interface.linkType, 0, 0, bytes, captured, original};
        SplitTime(time, interface, record.seconds, record.nanoseconds);
        return TakeRecord(record, endian_, contents_, error);
    }

    // An enhanced packet block, or the obsolete packet block of the same layout whose interface
    // id has 16 bits (followed by a 16-bit drop count).
    bool EnhancedPacket(const Place& where, const std::uint8_t* body, std::size_t length, bool obsolete,
                        CaptureError& error)
    {
        if (length < kEnhancedBodyMinimum) {
            return Fail(error, where, "body of " + std::to_string(length) + " bytes, a packet block has at least 20");
        }
        const Interface* interface = InterfaceOf(where, obsolete ? endian_.U16(body) : endian_.U32(body), error);
        if (!interface) return false;
        const std::uint64_t time = std::uint64_t{endian_.U32(body + 4)} << 32 | endian_.U32(body + 8);
        const std::size_t captured = endian_.U32(body + 12);
        const std::size_t original = endian_.U32(body + 16);
        if (captured > length - kEnhancedBodyMinimum) {
            return Fail(error, where,
                        "captured length " + std::to_string(captured) + " runs past the block (" +
                        std::to_string(length - kEnhancedBodyMinimum) + " bytes of packet data)");
        }
        return Packet(where, *interface, time, body + kEnhancedBodyMinimum, captured, original, error);
    }

    // A simple packet belongs to interface 0 and has no time stamp.
    bool SimplePacket(const Place& where, const std::uint8_t* body, std::size_t length, CaptureError& error)
    {
        if (length < kSimpleBodyMinimum) {
            return Fail(error, where, "body of " + std::to_string(length) + " bytes, a simple packet has at least 4");
        }
        const Interface* interface = InterfaceOf(where, 0, error);
        if (!interface) return false;
        const std::size_t original = endian_.U32(body);
        std::size_t captured = std::min(original, length - kSimpleBodyMinimum);
        if (interface->snapLength != 0) captured = std::min<std::size_t>(captured, interface->snapLength);
        return Packet(where, *interface, 0, body + kSimpleBodyMinimum, captured, original, error);
    }

    const std::uint8_t* data_;
    std::size_t size_;
    CaptureContents& contents_;
    Endian endian_;
    bool inSection_ = false;
    std::vector<Interface> interfaces_;
};

bool ReadPcap(const std::uint8_t* data, std::size_t size, const Endian& endian, bool nanoseconds,
              CaptureContents& contents, CaptureError& error)
{
    contents.format = "pcap";
    if (size < kPcapFileHeader) {
        return Fail(error, Place{}, "pcap file header truncated: " + std::to_string(size) + " bytes, it has 24");
    }
    const auto linkType = static_cast<std::uint16_t>(endian.U32(data + kPcapLinkTypeField) & kPcapLinkTypeMask);
    std::size_t offset = kPcapFileHeader;
    std::uint64_t number = 0;
    while (offset < size) {
        ++number;
        Place where;
        where.unit = CaptureError::Unit::Record;
        where.number = number;
        where.offset = offset;
        if (size - offset < kPcapRecordHeader) {
            return Fail(error, where,
                        "record header truncated, " + std::to_string(size - offset) + " bytes left of 16");
        }
        const std::uint8_t* header = data + offset;
        const std::uint32_t fraction = endian.U32(header + 4);
        const std::size_t captured = endian.U32(header + 8);
        const std::size_t original = endian.U32(header + 12);
        if (fraction >= (nanoseconds ? 1000000000u : 1000000u)) {
            return Fail(error, where, "time stamp fraction " + std::to_string(fraction) + " is not below one second");
        }
        if (captured > size - offset - kPcapRecordHeader) {
            return Fail(error, where,
                        "truncated, captured length " + std::to_string(captured) + ", the file has " +
                        std::to_string(size - offset - kPcapRecordHeader) + " bytes from there");
        }
        Record record{where, linkType, endian.U32(header), nanoseconds ? fraction : fraction * 1000u,
                      header + kPcapRecordHeader, captured, original};
        if (!TakeRecord(record, endian, contents, error)) return false;
        offset += kPcapRecordHeader + captured;
    }
    return true;
}

}  // namespace

std::string LinkTypeName(std::uint16_t linkType)
{
    switch (linkType) {
    case kLinkUsbLinux: return "189 (Linux usbmon, 48-byte header)";
    case kLinkUsbLinuxMmapped: return "220 (Linux usbmon)";
    case kLinkUsbPcap: return "249 (USBPcap)";
    default: return std::to_string(linkType);
    }
}

std::string ErrorText(const CaptureError& error)
{
    switch (error.unit) {
    case CaptureError::Unit::File: return error.reason;
    case CaptureError::Unit::Record:
        return "record " + std::to_string(error.number) + " at offset " + HexOffset(error.offset) + ": " +
               error.reason;
    case CaptureError::Unit::Block: break;
    }
    const std::string type = error.blockType.empty() ? "" : " (" + error.blockType + ")";
    return "block " + std::to_string(error.number) + type + " at offset " + HexOffset(error.offset) + ": " +
           error.reason;
}

bool ReadCapture(const std::uint8_t* data, std::size_t size, CaptureContents& contents, CaptureError& error)
{
    contents = CaptureContents{};
    if (size < 4) return Fail(error, Place{}, "not a capture: " + std::to_string(size) + " bytes");
    const std::uint32_t magic = kLittle.U32(data);
    if (magic == kSectionHeaderBlock) {
        contents.format = "pcapng";
        PcapngReader reader(data, size, contents);
        return reader.Read(error);
    }
    const Endian big{true};
    if (magic == kPcapMicroseconds) return ReadPcap(data, size, kLittle, false, contents, error);
    if (magic == kPcapNanoseconds) return ReadPcap(data, size, kLittle, true, contents, error);
    if (big.U32(data) == kPcapMicroseconds) return ReadPcap(data, size, big, false, contents, error);
    if (big.U32(data) == kPcapNanoseconds) return ReadPcap(data, size, big, true, contents, error);
    return Fail(error, Place{}, "not a pcapng or pcap file (first bytes " + HexOffset(magic) + ")");
}

bool ReadCaptureFile(const std::string& path, CaptureContents& contents, CaptureError& error)
{
    const bool standardInput = path == "-";
    std::FILE* file = standardInput ? stdin : std::fopen(path.c_str(), "rb");
    if (!file) return Fail(error, Place{}, std::string("cannot open it: ") + std::strerror(errno));
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[65536];
    std::size_t got = 0;
    bool tooLarge = false;
    while (!tooLarge && (got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        tooLarge = bytes.size() + got > kMaxCaptureFile;
        if (!tooLarge) bytes.insert(bytes.end(), chunk, chunk + got);
    }
    const bool failed = std::ferror(file) != 0;
    const int readError = errno;
    if (!standardInput) std::fclose(file);
    if (tooLarge) return Fail(error, Place{}, "larger than " + std::to_string(kMaxCaptureFile >> 20) + " MiB");
    if (failed) return Fail(error, Place{}, std::string("cannot read it: ") + std::strerror(readError));
    return ReadCapture(bytes.data(), bytes.size(), contents, error);
}

}  // namespace capture
