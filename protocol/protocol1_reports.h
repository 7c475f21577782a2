// Protocol 1's reports, as the boot loader of a controller in update mode 1 reads and writes them.
//
// The output report, set-output report 3 of 64 bytes, in its plain form:
//   0       report id 3
//   1       header B5
//   2       the size of the data field, 38
//   3       command: B4 identify, 8A erase, 79 program, A4 finish
//   4, 5    address, high byte first (identify: 0)
//   6       program: the size of the data; erase: 01, a whole block; identify, finish: 0
//   7       checksum: the byte sum of the report's other 63 bytes
//   8..63   data: a program report's bytes first; the rest is left as the buffer holds it
// On the wire every byte after the report id is substituted (SubstituteAfterReportId). Each
// builder writes its own fields only: the updater reuses one buffer for every report, so the
// bytes a report does not set go out as the previous report left them.
//
// The boot loader answers an identify command with input report 2 of 46 bytes:
//   0       report id 2
//   1       product id, low byte
//   2       vendor id, high byte
//   3, 4    boot loader version, major then minor
//   5       flash size / 256
//   6       application region start / 256
//   7..45   0
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "protocol/report_field.h"

namespace protocol1 {

inline constexpr std::size_t kReportSize = 64;
inline constexpr std::uint8_t kReportId = 0x03;
inline constexpr std::uint8_t kHeader = 0xB5;
inline constexpr std::uint8_t kDataFieldSize = 0x38;

inline constexpr std::uint8_t kIdentifyCommand = 0xB4;
inline constexpr std::uint8_t kEraseCommand = 0x8A;
inline constexpr std::uint8_t kProgramCommand = 0x79;
inline constexpr std::uint8_t kFinishCommand = 0xA4;
inline constexpr std::uint8_t kEraseWholeBlock = 0x01;  // the size field of an erase

// The flash the commands address: the boot loader below the region start, the application
// region above it, erased in blocks and programmed in chunks at chunk boundaries.
inline constexpr std::uint32_t kRegionStart = 0x0A00;
inline constexpr std::uint32_t kEraseBlockSize = 512;
inline constexpr std::uint32_t kChunkSize = 32;

inline constexpr ReportField kReportIdField{0, 1};
inline constexpr ReportField kHeaderField{1, 1};
inline constexpr ReportField kDataFieldSizeField{2, 1};
inline constexpr ReportField kCommandField{3, 1};
inline constexpr ReportField kAddressField{4, 2, ByteOrder::HighFirst};
inline constexpr ReportField kSizeField{6, 1};
inline constexpr ReportField kChecksumField{7, 1};
inline constexpr ReportBytes kDataField{8, kDataFieldSize};

inline constexpr std::uint8_t kReplyReportId = 0x02;
inline constexpr std::size_t kReplySize = 46;
inline constexpr ReportField kReplyProductLowField{1, 1};
inline constexpr ReportField kReplyVendorHighField{2, 1};
inline constexpr ReportField kReplyVersionField{3, 2, ByteOrder::HighFirst};
inline constexpr ReportField kReplyFlashPagesField{5, 1};
inline constexpr ReportField kReplyRegionPageField{6, 1};

// The fields of a command; the header, the checksum and the data stay as they are.
inline void PutCommand(std::uint8_t* plain, std::uint8_t command, std::uint32_t address, std::uint8_t size)
{
    PutField(plain, kCommandField, command);
    PutField(plain, kAddressField, address);
    PutField(plain, kSizeField, size);
}

inline void PutIdentify(std::uint8_t* plain) { PutCommand(plain, kIdentifyCommand, 0, 0); }

inline void PutErase(std::uint8_t* plain, std::uint32_t blockAddress)
{
    PutCommand(plain, kEraseCommand, blockAddress, kEraseWholeBlock);
}

inline std::uint8_t* DataField(std::uint8_t* plain) { return plain + kDataField.offset; }
inline const std::uint8_t* DataField(const std::uint8_t* plain) { return plain + kDataField.offset; }

// The command and the first size bytes of the data field (size at most kChunkSize).
inline void PutProgram(std::uint8_t* plain, std::uint32_t address, const std::uint8_t* data, std::uint8_t size)
{
    PutCommand(plain, kProgramCommand, address, size);
    std::memcpy(DataField(plain), data, size);
}

inline void PutFinish(std::uint8_t* plain, std::uint32_t regionStart)
{
    PutCommand(plain, kFinishCommand, regionStart, 0);
}

inline std::uint8_t ReadHeader(const std::uint8_t* plain) { return GetByte(plain, kHeaderField); }
inline std::uint8_t ReadDataFieldSize(const std::uint8_t* plain) { return GetByte(plain, kDataFieldSizeField); }
inline std::uint8_t ReadCommand(const std::uint8_t* plain) { return GetByte(plain, kCommandField); }
inline std::uint32_t ReadAddress(const std::uint8_t* plain) { return GetField(plain, kAddressField); }
inline std::uint8_t ReadSize(const std::uint8_t* plain) { return GetByte(plain, kSizeField); }
inline std::uint8_t ReadChecksum(const std::uint8_t* plain) { return GetByte(plain, kChecksumField); }

// What the checksum field must hold: the byte sum of every other byte of the report.
inline std::uint8_t ChecksumOf(const std::uint8_t* plain)
{
    const std::uint32_t all = ByteSum(plain, {0, kReportSize});
    return static_cast<std::uint8_t>(all - GetField(plain, kChecksumField));
}

// The report id, the header and the size of the data field.
inline void PutHeader(std::uint8_t* plain)
{
    PutField(plain, kReportIdField, kReportId);
    PutField(plain, kHeaderField, kHeader);
    PutField(plain, kDataFieldSizeField, kDataFieldSize);
}

inline void PutChecksum(std::uint8_t* plain) { PutField(plain, kChecksumField, ChecksumOf(plain)); }

// The header, and the checksum over the fields as they stand.
inline void Seal(std::uint8_t* plain)
{
    PutHeader(plain);
    PutChecksum(plain);
}

// Replaces every byte after the report id by table[byte]: with the inverse of ScrambleTable the
// plain report becomes the wire report, with ScrambleTable the wire report becomes plain again.
inline void SubstituteAfterReportId(std::uint8_t* report, std::size_t length, const std::uint8_t* table)
{
    for (std::size_t i = kReportIdField.End(); i < length; ++i) report[i] = table[report[i]];
}

struct IdentifyReply {
    std::uint8_t productLow;
    std::uint8_t vendorHigh;
    std::uint16_t version;  // major in the high byte
    std::uint32_t flashSize;
    std::uint32_t regionStart;
};

// Every byte of the reply after its report id (kReplySize bytes).
inline void PutIdentifyReply(std::uint8_t* reply, const IdentifyReply& fields)
{
    std::memset(reply + kReportIdField.End(), 0, kReplySize - kReportIdField.End());
    PutField(reply, kReplyProductLowField, fields.productLow);
    PutField(reply, kReplyVendorHighField, fields.vendorHigh);
    PutField(reply, kReplyVersionField, fields.version);
    PutField(reply, kReplyFlashPagesField, fields.flashSize >> 8);
    PutField(reply, kReplyRegionPageField, fields.regionStart >> 8);
}

}  // namespace protocol1
