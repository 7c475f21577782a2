#include "tests/linux/loop/download_steps.h"

#include <algorithm>

#include "protocol/scrambled_report.h"
#include "protocol/time_limits.h"

namespace rig {
namespace {

// Protocol 1: scrambled 64-byte set-output reports (report id 3) and a 46-byte identify reply
// (input report 2). Plain report: id, header B5 38, command, address high, address low, size,
// checksum (byte sum of the plain report with this byte 0), data from byte 8.
constexpr std::size_t kMode1ReportLength = 64;
constexpr std::uint8_t kMode1ReportId = 0x03;
constexpr std::uint8_t kMode1Header1 = 0xB5;
constexpr std::uint8_t kMode1Header2 = 0x38;
constexpr std::size_t kMode1ChecksumAt = 7;
constexpr std::size_t kMode1DataAt = 8;
constexpr std::uint8_t kIdentify = 0xB4;
constexpr std::uint8_t kErase = 0x8A;
constexpr std::uint8_t kProgram = 0x79;
constexpr std::uint8_t kFinish = 0xA4;
constexpr std::uint8_t kEraseWholeBlock = 0x01;  // byte 6 of an erase
constexpr std::uint8_t kIdentifyReplyId = 0x02;
constexpr std::size_t kIdentifyReplyLength = 46;
constexpr std::uint32_t kMode1RegionStart = 0x0A00;
constexpr std::uint32_t kMode1Length = 0x8000;  // the image buffer's 32768 bytes that are sent
constexpr std::uint32_t kEraseBlock = 512;
constexpr std::uint32_t kChunk = 32;
constexpr std::uint8_t kBlank = 0xFF;

// Protocol 2: 64-byte output reports (report id 3): id, prefix 25 63, command, byte sum of the
// data (high, low), offset (high, low), 56 data bytes.
constexpr std::size_t kMode2ReportLength = 64;
constexpr std::uint8_t kMode2ReportId = 0x03;
constexpr std::uint8_t kMode2PrefixHigh = 0x25;
constexpr std::uint8_t kMode2PrefixLow = 0x63;
constexpr std::uint8_t kMode2Start = 0x47;
constexpr std::uint8_t kMode2Data = 0x87;
constexpr std::size_t kMode2DataAt = 8;
constexpr std::size_t kMode2Chunk = 56;
constexpr std::uint32_t kMode2LastOffset = 0x77E0;

// Protocol 3: 65-byte output reports (report id 0, then 64 bytes, fields low byte first), each
// answered by a 65-byte input report: begin (block count, image length), blocks (number from 1,
// length, 58 data bytes from byte 7), end (count + 1, byte sum of the block data, image length).
constexpr std::size_t kMode3ReportLength = 65;
constexpr std::uint8_t kMode3CommandHigh = 0xBA;
constexpr std::uint8_t kMode3Begin = 0xC0;
constexpr std::uint8_t kMode3BlockCommand = 0xC1;
constexpr std::uint8_t kMode3End = 0xC2;
constexpr std::size_t kMode3DataAt = 7;
constexpr std::size_t kMode3BlockLength = 58;

void PutLittle(std::vector<std::uint8_t>& report, std::size_t at, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) report[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::vector<std::uint8_t> Scrambled(std::vector<std::uint8_t> plain, const std::uint8_t* inverse)
{
    plain[0] = kMode1ReportId;
    plain[1] = kMode1Header1;
    plain[2] = kMode1Header2;
    plain[kMode1ChecksumAt] = 0;
    std::uint8_t sum = 0;
    for (std::uint8_t byte : plain) sum = static_cast<std::uint8_t>(sum + byte);
    plain[kMode1ChecksumAt] = sum;
    for (std::size_t i = 1; i < plain.size(); ++i) plain[i] = inverse[plain[i]];
    return plain;
}

std::vector<std::uint8_t> Mode1Command(std::uint8_t command, std::uint32_t address, std::uint8_t size)
{
    std::vector<std::uint8_t> plain(kMode1ReportLength, 0);
    plain[3] = command;
    plain[4] = static_cast<std::uint8_t>(address >> 8);
    plain[5] = static_cast<std::uint8_t>(address);
    plain[6] = size;
    return plain;
}

std::vector<Step> Mode1Steps(std::vector<std::uint8_t> image)
{
    image.resize(kMode1Length, kBlank);  // the image buffer is blank past the image
    std::uint8_t inverse[256];
    InvertScrambleTable(ScrambleTable, inverse);
    std::vector<Step> steps;
    auto setOutput = [&](std::vector<std::uint8_t> plain) {
        steps.push_back({StepKind::SetOutput, Scrambled(std::move(plain), inverse), kReportWriteLimitMs});
    };

    setOutput(Mode1Command(kIdentify, 0, 0));
    std::vector<std::uint8_t> reply(kIdentifyReplyLength, 0);
    reply[0] = kIdentifyReplyId;
    steps.push_back({StepKind::GetInput, reply, kReplyReadLimitMs});

    for (std::uint32_t address = kMode1RegionStart; address < kMode1Length; address += kEraseBlock)
        setOutput(Mode1Command(kErase, address, kEraseWholeBlock));

    // Up to the last byte that is not blank, leaving out the buffer's last byte.
    std::uint32_t end = kMode1Length - 1;
    while (end > kMode1RegionStart && image[end - 1] == kBlank) --end;
    for (std::uint32_t address = kMode1RegionStart; address < end; address += kChunk) {
        const std::uint32_t size = std::min(kChunk, end - address);
        const auto first = image.begin() + address;
        if (std::all_of(first, first + size, [](std::uint8_t byte) { return byte == kBlank; })) continue;
        std::vector<std::uint8_t> plain = Mode1Command(kProgram, address, static_cast<std::uint8_t>(size));
        std::fill(plain.begin() + kMode1DataAt, plain.begin() + kMode1DataAt + kChunk, 0);
        std::copy(first, first + size, plain.begin() + kMode1DataAt);
        setOutput(std::move(plain));
    }
    setOutput(Mode1Command(kFinish, kMode1RegionStart, 0));
    return steps;
}

std::vector<Step> Mode2Steps(const std::vector<std::uint8_t>& image)
{
    if (image.size() < kMode2LastOffset + kMode2Chunk) return {};
    std::vector<Step> steps;
    std::vector<std::uint8_t> report(kMode2ReportLength, 0);
    report[0] = kMode2ReportId;
    report[1] = kMode2PrefixHigh;
    report[2] = kMode2PrefixLow;
    report[3] = kMode2Start;
    steps.push_back({StepKind::Write, report, kReportWriteLimitMs});
    report[3] = kMode2Data;
    for (std::uint32_t offset = 0; offset <= kMode2LastOffset; offset += kMode2Chunk) {
        std::copy(image.begin() + offset, image.begin() + offset + kMode2Chunk, report.begin() + kMode2DataAt);
        std::uint32_t sum = 0;
        for (std::size_t i = kMode2DataAt; i < kMode2ReportLength; ++i) sum += report[i];
        report[4] = static_cast<std::uint8_t>(sum >> 8);
        report[5] = static_cast<std::uint8_t>(sum);
        report[6] = static_cast<std::uint8_t>(offset >> 8);
        report[7] = static_cast<std::uint8_t>(offset);
        steps.push_back({StepKind::Write, report, kReportWriteLimitMs});
    }
    return steps;
}

std::vector<Step> Mode3Steps(const std::vector<std::uint8_t>& image)
{
    const std::uint32_t length = static_cast<std::uint32_t>(image.size());
    const std::uint32_t blocks = (length + kMode3BlockLength - 1) / kMode3BlockLength;
    if (length == 0) return {};
    std::vector<Step> steps;
    const std::vector<std::uint8_t> reply(kMode3ReportLength, 0);
    auto exchange = [&](const std::vector<std::uint8_t>& report, std::uint32_t replyLimitMs) {
        steps.push_back({StepKind::Write, report, kReportWriteLimitMs});
        steps.push_back({StepKind::Read, reply, replyLimitMs});
    };
    auto command = [](std::uint8_t which) {
        std::vector<std::uint8_t> report(kMode3ReportLength, 0);
        report[1] = kMode3CommandHigh;
        report[2] = which;
        return report;
    };

    steps.push_back({StepKind::Flush, reply, 0});
    std::vector<std::uint8_t> begin = command(kMode3Begin);
    PutLittle(begin, 3, blocks, 2);
    PutLittle(begin, 5, length, 3);
    exchange(begin, kEraseReplyLimitMs);

    std::uint32_t total = 0;
    for (std::uint32_t n = 1; n <= blocks; ++n) {
        const std::uint32_t offset = (n - 1) * kMode3BlockLength;
        const std::uint32_t size = std::min<std::uint32_t>(kMode3BlockLength, length - offset);
        std::vector<std::uint8_t> block = command(kMode3BlockCommand);
        PutLittle(block, 3, n, 2);
        PutLittle(block, 5, size, 2);
        std::copy(image.begin() + offset, image.begin() + offset + size, block.begin() + kMode3DataAt);
        for (std::size_t i = kMode3DataAt; i < kMode3ReportLength; ++i) total += block[i];
        exchange(block, kReplyReadLimitMs);
    }
    std::vector<std::uint8_t> end = command(kMode3End);
    PutLittle(end, 3, blocks + 1, 2);
    PutLittle(end, 5, total, 3);
    PutLittle(end, 8, length, 3);
    exchange(end, kReplyReadLimitMs);
    return steps;
}

}  // namespace

std::vector<Step> DownloadSteps(int mode, const std::vector<std::uint8_t>& image)
{
    switch (mode) {
    case 1: return image.empty() ? std::vector<Step>{} : Mode1Steps(image);
    case 2: return Mode2Steps(image);
    case 3: return Mode3Steps(image);
    default: return {};
    }
}

}  // namespace rig
