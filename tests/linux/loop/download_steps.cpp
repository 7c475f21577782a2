#include "tests/linux/loop/download_steps.h"

#include <algorithm>

#include "protocol/protocol1_reports.h"
#include "protocol/protocol2_reports.h"
#include "protocol/protocol3_reports.h"
#include "protocol/scrambled_report.h"
#include "protocol/time_limits.h"

namespace rig {
namespace {

// Protocol 1 sends the image buffer's 32768 bytes; the buffer is blank past the image.
constexpr std::uint32_t kMode1Length = 0x8000;
constexpr std::uint8_t kBlank = 0xFF;

using Report = std::vector<std::uint8_t>;

Report Scrambled(Report plain, const std::uint8_t* inverse)
{
    protocol1::Seal(plain.data());
    protocol1::SubstituteAfterReportId(plain.data(), plain.size(), inverse);
    return plain;
}

std::vector<Step> Mode1Steps(std::vector<std::uint8_t> image)
{
    using protocol1::kChunkSize;
    using protocol1::kRegionStart;
    image.resize(kMode1Length, kBlank);
    std::uint8_t inverse[256];
    InvertScrambleTable(ScrambleTable, inverse);
    std::vector<Step> steps;
    auto setOutput = [&](const Report& plain) {
        steps.push_back({StepKind::SetOutput, Scrambled(plain, inverse), kReportWriteLimitMs});
    };

    Report identify(protocol1::kReportSize, 0);
    protocol1::PutIdentify(identify.data());
    setOutput(identify);
    Report reply(protocol1::kReplySize, 0);
    reply[0] = protocol1::kReplyReportId;
    steps.push_back({StepKind::GetInput, reply, kReplyReadLimitMs});

    for (std::uint32_t address = kRegionStart; address < kMode1Length; address += protocol1::kEraseBlockSize) {
        Report erase(protocol1::kReportSize, 0);
        protocol1::PutErase(erase.data(), address);
        setOutput(erase);
    }

    // Up to the last byte that is not blank, leaving out the buffer's last byte.
    std::uint32_t end = kMode1Length - 1;
    while (end > kRegionStart && image[end - 1] == kBlank) --end;
    for (std::uint32_t address = kRegionStart; address < end; address += kChunkSize) {
        const std::uint32_t size = std::min(kChunkSize, end - address);
        const std::uint8_t* chunk = image.data() + address;
        if (std::all_of(chunk, chunk + size, [](std::uint8_t byte) { return byte == kBlank; })) continue;
        Report program(protocol1::kReportSize, 0);
        protocol1::PutProgram(program.data(), address, chunk, static_cast<std::uint8_t>(size));
        setOutput(program);
    }
    Report finish(protocol1::kReportSize, 0);
    protocol1::PutFinish(finish.data(), kRegionStart);
    setOutput(finish);
    return steps;
}

std::vector<Step> Mode2Steps(const std::vector<std::uint8_t>& image)
{
    if (image.size() < protocol2::kStreamSize) return {};
    std::vector<Step> steps;
    Report report(protocol2::kReportSize, 0);
    protocol2::PutStart(report.data());
    steps.push_back({StepKind::Write, report, kReportWriteLimitMs});
    for (std::uint32_t offset = 0; offset <= protocol2::kLastOffset; offset += protocol2::kChunkSize) {
        protocol2::PutData(report.data(), offset, image.data() + offset);
        steps.push_back({StepKind::Write, report, kReportWriteLimitMs});
    }
    return steps;
}

std::vector<Step> Mode3Steps(const std::vector<std::uint8_t>& image)
{
    using protocol3::kBlockSize;
    const std::uint32_t length = static_cast<std::uint32_t>(image.size());
    const std::uint32_t blocks = (length + kBlockSize - 1) / kBlockSize;
    if (length == 0) return {};
    std::vector<Step> steps;
    const Report reply(protocol3::kReportSize, 0);
    Report report(protocol3::kReportSize, 0);
    auto exchange = [&](std::uint32_t replyLimitMs) {
        steps.push_back({StepKind::Write, report, kReportWriteLimitMs});
        steps.push_back({StepKind::Read, reply, replyLimitMs});
    };

    steps.push_back({StepKind::Flush, reply, 0});
    protocol3::PutBegin(report.data(), blocks, length);
    exchange(kEraseReplyLimitMs);

    std::uint32_t total = 0;
    for (std::uint32_t n = 1; n <= blocks; ++n) {
        const std::uint32_t offset = (n - 1) * kBlockSize;
        const std::uint32_t size = std::min<std::uint32_t>(kBlockSize, length - offset);
        protocol3::PutBlock(report.data(), n, size);
        std::copy_n(image.begin() + offset, size, protocol3::BlockData(report.data()));
        total += protocol3::BlockDataSum(report.data());
        exchange(kReplyReadLimitMs);
    }
    protocol3::PutEnd(report.data(), blocks + 1, total, length);
    exchange(kReplyReadLimitMs);
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
