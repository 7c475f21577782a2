// Protocol 3's reports: 65-byte output reports (report id 0, then the device's 64 bytes), each
// answered by a 65-byte input report. Numbers go low byte first.
//   0       report id 0
//   1, 2    command: BA C0 begin, BA C1 block, BA C2 end
//   begin   3, 4 the block count; 5..7 the image length; 0 after them
//   block   3, 4 its number, from 1; 5, 6 the length of its data; 7..64 the data field of
//           58 bytes, 0 after the data
//   end     3, 4 the block count + 1; 5..7 the byte sum of the data fields sent (24 bits);
//           8..10 the image length; 0 after them
// The reply: 1, 2 the command it answers; 3 the status (0, or 1 for an end report that came
// with blocks missing); 0 elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "protocol/report_field.h"

namespace protocol3 {

inline constexpr std::size_t kReportSize = 65;
inline constexpr std::uint8_t kReportId = 0x00;
inline constexpr std::uint8_t kCommandHigh = 0xBA;
inline constexpr std::uint8_t kBeginCommand = 0xC0;
inline constexpr std::uint8_t kBlockCommand = 0xC1;
inline constexpr std::uint8_t kEndCommand = 0xC2;
inline constexpr std::size_t kBlockSize = 58;

inline constexpr std::uint8_t kStatusOk = 0x00;
inline constexpr std::uint8_t kStatusIncomplete = 0x01;

inline constexpr ReportField kCommandHighField{1, 1};
inline constexpr ReportField kCommandField{2, 1};

inline constexpr ReportField kBeginBlockCountField{3, 2, ByteOrder::LowFirst};
inline constexpr ReportField kBeginImageLengthField{5, 3, ByteOrder::LowFirst};

inline constexpr ReportField kBlockNumberField{3, 2, ByteOrder::LowFirst};
inline constexpr ReportField kBlockLengthField{5, 2, ByteOrder::LowFirst};
inline constexpr ReportBytes kBlockDataField{7, kBlockSize};

inline constexpr ReportField kEndCountField{3, 2, ByteOrder::LowFirst};
inline constexpr ReportField kEndTotalField{5, 3, ByteOrder::LowFirst};
inline constexpr ReportField kEndImageLengthField{8, 3, ByteOrder::LowFirst};

inline constexpr ReportField kReplyStatusField{3, 1};

// Where the zero fill after the fields begins.
inline constexpr std::size_t kBeginFieldsEnd = kBeginImageLengthField.End();
inline constexpr std::size_t kEndFieldsEnd = kEndImageLengthField.End();

// A report of this command with every other byte 0 (kReportSize bytes).
inline void PutCommandReport(std::uint8_t* report, std::uint8_t command)
{
    std::memset(report, 0, kReportSize);
    PutField(report, kCommandHighField, kCommandHigh);
    PutField(report, kCommandField, command);
}

inline void PutBegin(std::uint8_t* report, std::uint32_t blockCount, std::uint32_t imageLength)
{
    PutCommandReport(report, kBeginCommand);
    PutField(report, kBeginBlockCountField, blockCount);
    PutField(report, kBeginImageLengthField, imageLength);
}

// A block report with its data field 0: the caller fills BlockData.
inline void PutBlock(std::uint8_t* report, std::uint32_t number, std::uint32_t length)
{
    PutCommandReport(report, kBlockCommand);
    PutField(report, kBlockNumberField, number);
    PutField(report, kBlockLengthField, length);
}

inline void PutEnd(std::uint8_t* report, std::uint32_t countField, std::uint32_t total, std::uint32_t imageLength)
{
    PutCommandReport(report, kEndCommand);
    PutField(report, kEndCountField, countField);
    PutField(report, kEndTotalField, total);
    PutField(report, kEndImageLengthField, imageLength);
}

// The whole reply (kReportSize bytes).
inline void PutReply(std::uint8_t* reply, std::uint8_t command, std::uint8_t status)
{
    PutCommandReport(reply, command);
    PutField(reply, kReplyStatusField, status);
}

inline std::uint8_t* BlockData(std::uint8_t* report) { return report + kBlockDataField.offset; }
inline const std::uint8_t* BlockData(const std::uint8_t* report) { return report + kBlockDataField.offset; }
// The byte sum of a block report's data field, as the end report's total counts it.
inline std::uint32_t BlockDataSum(const std::uint8_t* report) { return ByteSum(report, kBlockDataField); }

inline std::uint8_t ReadCommandHigh(const std::uint8_t* report) { return GetByte(report, kCommandHighField); }
inline std::uint8_t ReadCommand(const std::uint8_t* report) { return GetByte(report, kCommandField); }
inline std::uint32_t ReadBeginBlockCount(const std::uint8_t* report) { return GetField(report, kBeginBlockCountField); }
inline std::uint32_t ReadBeginImageLength(const std::uint8_t* report)
{
    return GetField(report, kBeginImageLengthField);
}
inline std::uint32_t ReadBlockNumber(const std::uint8_t* report) { return GetField(report, kBlockNumberField); }
inline std::uint32_t ReadBlockLength(const std::uint8_t* report) { return GetField(report, kBlockLengthField); }
inline std::uint32_t ReadEndCount(const std::uint8_t* report) { return GetField(report, kEndCountField); }
inline std::uint32_t ReadEndTotal(const std::uint8_t* report) { return GetField(report, kEndTotalField); }
inline std::uint32_t ReadEndImageLength(const std::uint8_t* report) { return GetField(report, kEndImageLengthField); }

}  // namespace protocol3
