#include "models/protocol2_device.h"

#include <algorithm>
#include <cstdio>

#include "models/models.h"
#include "protocol/protocol2_reports.h"
#include "state/download_modes.h"

namespace models {

namespace {

using protocol2::kReportId;
using protocol2::kReportSize;

std::string Format(const char* format, unsigned a, unsigned b = 0)
{
    char text[160];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

}  // namespace

Protocol2Device::Protocol2Device()
    : HidDevice(ModeFacts(2).vendorId, ModeFacts(2).productId,
                {
                    // usage page, usage, input id, length, output id, length
                    {0xFF00, 0x0002, 2, 33, 2, 33},  // the controller's own
                    {0xFF00, 0x0001, kReportId, kReportSize, kReportId, kReportSize},
                    {0x0001, 0x0005, 1, 20, 0, 0},   // game pad
                }),
      flash_(kFlashSize, 0xFF),
      programmed_(kFlashSize, false)
{
}

bool Protocol2Device::OnWrite(const std::uint8_t* report, std::size_t length)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (length != kReportSize) return Refuse(Format("report of %u bytes, expected 64", unsigned(length)));
    if (report[0] != kReportId) return Refuse(Format("report id 0x%02x, expected 0x03", report[0]));
    const unsigned prefix = protocol2::ReadPrefix(report);
    if (prefix != protocol2::kPrefix)
        return Refuse(Format("report prefix 0x%02x 0x%02x, expected 0x25 0x63", prefix >> 8, prefix & 0xFF));
    const std::uint8_t command = protocol2::ReadCommand(report);
    switch (command) {
    case protocol2::kStartCommand: return TakeStart(report);
    case protocol2::kDataCommand: return TakeData(report);
    default: return Refuse(Format("unknown command 0x%02x", command));
    }
}

bool Protocol2Device::TakeStart(const std::uint8_t* report)
{
    for (std::size_t i = protocol2::kAfterCommand.offset; i < protocol2::kAfterCommand.End(); ++i) {
        if (report[i] != 0) return Refuse(Format("start report byte %u is 0x%02x, expected 0x00", unsigned(i), report[i]));
    }
    if (startRefusalsLeft_ > 0) {
        --startRefusalsLeft_;  // not ready yet: refused, but nothing wrong with the report
        return false;
    }
    // A start report begins a download afresh: the flash is erased.
    std::fill(flash_.begin(), flash_.end(), 0xFF);
    std::fill(programmed_.begin(), programmed_.end(), false);
    started_ = true;
    complete_ = false;
    nextOffset_ = 0;
    ++startsAccepted_;
    return true;
}

bool Protocol2Device::TakeData(const std::uint8_t* report)
{
    if (!started_) return Refuse("data report before an accepted start report");
    if (complete_) return Refuse("data report after the last one");
    const unsigned offset = protocol2::ReadOffset(report);
    if (offset != nextOffset_) return Refuse(Format("data report at offset 0x%04x, expected 0x%04x", offset, nextOffset_));
    if (offset + kChunkLength > kFlashSize) return Refuse(Format("data report at offset 0x%04x beyond the flash", offset));
    const unsigned sum = protocol2::DataSum(report);
    const unsigned checksum = protocol2::ReadChecksum(report);
    if (checksum != sum) return Refuse(Format("data checksum 0x%04x, the data sum to 0x%04x", checksum, sum));

    const std::uint8_t* data = protocol2::DataField(report);
    std::copy(data, data + kChunkLength, flash_.begin() + offset);
    std::fill(programmed_.begin() + offset, programmed_.begin() + offset + kChunkLength, true);
    ++dataAccepted_;
    nextOffset_ = offset + kChunkLength;
    if (offset == kLastOffset) complete_ = true;
    return true;
}

bool Protocol2Device::OnRead(std::uint8_t*, std::size_t)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return Refuse("read: this device sends no input reports");
}

bool Protocol2Device::OnSetOutputReport(const std::uint8_t*, std::size_t)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return Refuse("set-output request: this device takes reports on its interrupt pipe only");
}

bool Protocol2Device::OnGetInputReport(std::uint8_t*, std::size_t)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return Refuse("get-input request: this device sends no input reports");
}

std::vector<std::uint8_t> Protocol2Device::Flash() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return flash_;
}

bool Protocol2Device::DownloadComplete() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return complete_;
}

bool Protocol2Device::SetOption(const std::string& name, std::uint32_t value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (name != "refuse-start") return false;
    startRefusalsLeft_ = value;
    return true;
}

std::uint32_t Protocol2Device::StartReportsAccepted() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return startsAccepted_;
}

std::uint32_t Protocol2Device::DataReportsAccepted() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return dataAccepted_;
}

std::vector<std::pair<std::size_t, std::size_t>> Protocol2Device::ProgrammedRanges() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::pair<std::size_t, std::size_t>> ranges;
    for (std::size_t i = 0; i < kFlashSize;) {
        if (!programmed_[i]) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < kFlashSize && programmed_[end]) ++end;
        ranges.emplace_back(i, end);
        i = end;
    }
    return ranges;
}

std::shared_ptr<HidDevice> MakeProtocol2Device()
{
    return std::make_shared<Protocol2Device>();
}

}  // namespace models
