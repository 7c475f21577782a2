// Protocol 2's reports: output report 3 of 64 bytes, written to the interrupt pipe; the device
// sends nothing back.
//   0       report id 3
//   1, 2    prefix 25 63
//   3       command: 47 start, 87 data
//   4, 5    data report: the byte sum of its data field, high byte first
//   6, 7    data report: the image offset of its data, high byte first
//   8..63   data report: 56 image bytes
// A start report is 0 after its command. The stream is a start report, then the image in data
// reports from offset 0 to kLastOffset, one chunk after the other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "protocol/report_field.h"

namespace protocol2 {

inline constexpr std::size_t kReportSize = 64;
inline constexpr std::uint8_t kReportId = 0x03;
inline constexpr std::uint8_t kPrefixHigh = 0x25;
inline constexpr std::uint8_t kPrefixLow = 0x63;
inline constexpr std::uint8_t kStartCommand = 0x47;
inline constexpr std::uint8_t kDataCommand = 0x87;

inline constexpr std::size_t kChunkSize = 56;
inline constexpr std::uint32_t kLastOffset = 0x77E0;
// The image bytes the stream carries: offsets 0 to kLastOffset + 55.
inline constexpr std::size_t kStreamSize = kLastOffset + kChunkSize;

inline constexpr ReportField kReportIdField{0, 1};
inline constexpr ReportField kPrefixField{1, 2, ByteOrder::HighFirst};
inline constexpr ReportField kCommandField{3, 1};
inline constexpr ReportField kChecksumField{4, 2, ByteOrder::HighFirst};
inline constexpr ReportField kOffsetField{6, 2, ByteOrder::HighFirst};
inline constexpr ReportBytes kDataField{8, kChunkSize};
// Everything after the command: 0 in a start report.
inline constexpr ReportBytes kAfterCommand{kCommandField.End(), kReportSize - kCommandField.End()};

inline constexpr std::uint32_t kPrefix = std::uint32_t{kPrefixHigh} << 8 | kPrefixLow;

// The whole start report (kReportSize bytes).
inline void PutStart(std::uint8_t* report)
{
    std::memset(report, 0, kReportSize);
    PutField(report, kReportIdField, kReportId);
    PutField(report, kPrefixField, kPrefix);
    PutField(report, kCommandField, kStartCommand);
}

// The whole data report of the kChunkSize bytes at chunk, which lie at offset in the image.
inline void PutData(std::uint8_t* report, std::uint32_t offset, const std::uint8_t* chunk)
{
    PutField(report, kReportIdField, kReportId);
    PutField(report, kPrefixField, kPrefix);
    PutField(report, kCommandField, kDataCommand);
    PutField(report, kOffsetField, offset);
    std::memcpy(report + kDataField.offset, chunk, kChunkSize);
    PutField(report, kChecksumField, ByteSum(report, kDataField));
}

inline std::uint32_t ReadPrefix(const std::uint8_t* report) { return GetField(report, kPrefixField); }
inline std::uint8_t ReadCommand(const std::uint8_t* report) { return GetByte(report, kCommandField); }
inline std::uint32_t ReadChecksum(const std::uint8_t* report) { return GetField(report, kChecksumField); }
inline std::uint32_t ReadOffset(const std::uint8_t* report) { return GetField(report, kOffsetField); }
inline const std::uint8_t* DataField(const std::uint8_t* report) { return report + kDataField.offset; }
// What a data report's checksum field must hold (before it is cut to 16 bits).
inline std::uint32_t DataSum(const std::uint8_t* report) { return ByteSum(report, kDataField); }

}  // namespace protocol2
