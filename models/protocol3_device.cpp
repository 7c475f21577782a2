#include "models/protocol3_device.h"

#include <algorithm>
#include <cstdio>

#include "models/models.h"
#include "protocol/protocol3_reports.h"
#include "state/download_modes.h"

namespace models {

namespace {

using protocol3::kReportSize;
using protocol3::kStatusIncomplete;
using protocol3::kStatusOk;

std::string Format(const char* format, unsigned a, unsigned b = 0, unsigned c = 0)
{
    char text[160];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

bool ZeroFrom(const std::uint8_t* report, std::size_t first)
{
    return std::all_of(report + first, report + kReportSize, [](std::uint8_t b) { return b == 0; });
}

}  // namespace

// One game-pad collection that numbers no reports: the 64-byte reports travel behind a 0 byte.
Protocol3Device::Protocol3Device() : Protocol3Device({{0x0001, 0x0005, 0, kReportSize, 0, kReportSize}}) {}

Protocol3Device::Protocol3Device(std::vector<HidCollection> collections)
    : HidDevice(ModeFacts(3).vendorId, ModeFacts(3).productId, std::move(collections))
{
}

bool Protocol3Device::OnWrite(const std::uint8_t* report, std::size_t length)
{
    std::lock_guard<std::mutex> lock(mutex_);
    // A report that comes before the previous reply was read drops that reply.
    replyPending_ = false;
    if (length != kReportSize) return Refuse(Format("report of %u bytes, expected 65", unsigned(length)));
    if (report[0] != protocol3::kReportId) return Refuse(Format("report id 0x%02x, expected 0x00", report[0]));
    const std::uint8_t commandHigh = protocol3::ReadCommandHigh(report);
    const std::uint8_t command = protocol3::ReadCommand(report);
    if (commandHigh != protocol3::kCommandHigh) return Refuse(Format("command 0x%02x 0x%02x", commandHigh, command));
    bool taken = false;
    switch (command) {
    case protocol3::kBeginCommand: taken = TakeBegin(report); break;
    case protocol3::kBlockCommand: taken = TakeBlock(report); break;
    case protocol3::kEndCommand: taken = TakeEnd(report); break;
    default: return Refuse(Format("command 0x%02x 0x%02x", commandHigh, command));
    }
    if (taken) {
        replyPending_ = true;
        replyCommand_ = command;
        if (command != protocol3::kEndCommand) replyStatus_ = kStatusOk;
    }
    return taken;
}

bool Protocol3Device::TakeBegin(const std::uint8_t* report)
{
    const unsigned count = protocol3::ReadBeginBlockCount(report);
    const unsigned length = protocol3::ReadBeginImageLength(report);
    if (!ZeroFrom(report, protocol3::kBeginFieldsEnd)) return Refuse("begin report: bytes 8 to 64 are not zero");
    if (length > kFlashCapacity) return Refuse(Format("begin report: image of %u bytes, capacity %u", length, unsigned(kFlashCapacity)));
    if (count != (length + kBlockLength - 1) / kBlockLength)
        return Refuse(Format("begin report: %u blocks for %u bytes", count, length));
    // Erase and get ready for the blocks.
    flash_.assign(length, 0x00);
    blockCount_ = count;
    imageLength_ = length;
    nextBlock_ = 1;
    sumSent_ = 0;
    complete_ = false;
    phase_ = Phase::Receiving;
    return true;
}

bool Protocol3Device::TakeBlock(const std::uint8_t* report)
{
    if (phase_ != Phase::Receiving) return Refuse("block report outside a download");
    const unsigned n = protocol3::ReadBlockNumber(report);
    const unsigned length = protocol3::ReadBlockLength(report);
    if (n != nextBlock_) return Refuse(Format("block %u, expected block %u", n, nextBlock_));
    if (n > blockCount_) return Refuse(Format("block %u of %u", n, blockCount_));
    const unsigned expected = n < blockCount_ ? kBlockLength : imageLength_ - kBlockLength * (blockCount_ - 1);
    if (length != expected) return Refuse(Format("block %u: length %u, expected %u", n, length, expected));
    // The data field always has 58 bytes; after the image's end it carries zero fill.
    if (!ZeroFrom(report, protocol3::kBlockDataField.offset + length)) return Refuse(Format("block %u: data after its length is not zero", n));

    const std::size_t offset = std::size_t{n - 1} * kBlockLength;
    const std::uint8_t* data = protocol3::BlockData(report);
    std::copy(data, data + length, flash_.begin() + offset);
    sumSent_ += protocol3::BlockDataSum(report);
    ++nextBlock_;
    ++blocksAccepted_;
    return true;
}

bool Protocol3Device::TakeEnd(const std::uint8_t* report)
{
    ++endsSeen_;
    if (phase_ != Phase::Receiving) return Refuse("end report outside a download");
    phase_ = Phase::Ended;
    const unsigned countField = protocol3::ReadEndCount(report);
    const unsigned total = protocol3::ReadEndTotal(report);
    const unsigned length = protocol3::ReadEndImageLength(report);
    if (!ZeroFrom(report, protocol3::kEndFieldsEnd)) return Refuse("end report: bytes 11 to 64 are not zero");
    if (countField != blockCount_ + 1) return Refuse(Format("end report: count field %u, expected %u", countField, blockCount_ + 1));
    if (length != imageLength_) return Refuse(Format("end report: length %u, expected %u", length, imageLength_));
    // Blocks missing (the host gave up on one): the end report is answered, with a failure
    // status, and the download stays incomplete. The total cannot be checked then: it counts
    // a block that never arrived.
    if (nextBlock_ != blockCount_ + 1) {
        replyStatus_ = kStatusIncomplete;
        return true;
    }
    unsigned assembledSum = 0;
    for (std::uint8_t b : flash_) assembledSum += b;
    if (total != (sumSent_ & 0xFFFFFF)) return Refuse(Format("end report: total 0x%06x, the blocks sum to 0x%06x", total, sumSent_ & 0xFFFFFF));
    if (total != (assembledSum & 0xFFFFFF)) return Refuse(Format("end report: total 0x%06x, the flash sums to 0x%06x", total, assembledSum & 0xFFFFFF));
    complete_ = true;
    replyStatus_ = kStatusOk;
    return true;
}

bool Protocol3Device::OnRead(std::uint8_t* buffer, std::size_t length)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (length != kReportSize) return Refuse(Format("read of %u bytes, expected 65", unsigned(length)));
    if (!replyPending_) return Refuse("read with no report to answer");
    replyPending_ = false;
    protocol3::PutReply(buffer, replyCommand_, replyStatus_);
    return true;
}

bool Protocol3Device::OnSetOutputReport(const std::uint8_t*, std::size_t)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return Refuse("set-output request: this device takes reports on its interrupt pipe only");
}

bool Protocol3Device::OnGetInputReport(std::uint8_t*, std::size_t)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return Refuse("get-input request: this device answers on its interrupt pipe only");
}

std::vector<std::uint8_t> Protocol3Device::Flash() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return flash_;
}

bool Protocol3Device::DownloadComplete() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return complete_;
}

std::uint32_t Protocol3Device::BlocksAccepted() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return blocksAccepted_;
}

std::uint32_t Protocol3Device::EndReportsSeen() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return endsSeen_;
}

std::shared_ptr<HidDevice> MakeProtocol3Device()
{
    return std::make_shared<Protocol3Device>();
}

}  // namespace models
