#include "models/protocol1_device.h"

#include <cstdio>

#include "protocol/protocol1_reports.h"
#include "protocol/scramble_table.h"
#include "models/models.h"
#include "state/download_modes.h"

namespace models {

namespace {

using protocol1::kReportSize;
constexpr std::uint8_t kOutputReportId = protocol1::kReportId;
constexpr std::uint8_t kInputReportId = protocol1::kReplyReportId;

std::string HexByte(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(value));
    return text;
}

std::string HexAddress(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(value));
    return text;
}

}  // namespace

Protocol1Device::Protocol1Device()
    : HidDevice(ModeFacts(1).vendorId, ModeFacts(1).productId,
                {
                    // usage page, usage, input id, length, output id, length
                    {0x0001, 0x0006, 1, 9, 1, 2},                            // keyboard: keys, LEDs
                    {0xFF00, 0x0001, kInputReportId, kReplyLength, kOutputReportId, kReportSize},
                    {0xFF00, 0x0002, 4, 33, 4, 33},                          // the controller's own
                }),
      flash_(kFlashSize),
      eraseCounts_(kFlashSize / kBlockSize),
      programCounts_(kFlashSize / kChunkSize)
{
    for (std::uint32_t address = 0; address < kFlashSize; ++address) flash_[address] = OldContent(address);
}

std::uint8_t Protocol1Device::OldContent(std::uint32_t address)
{
    // Every byte lies below 0xF0, so no old byte reads as blank.
    return static_cast<std::uint8_t>((address * 37 + (address >> 8)) % 0xF0);
}

std::vector<std::uint8_t> Protocol1Device::Recover(const std::uint8_t* report, std::size_t length) const
{
    std::vector<std::uint8_t> plain(report, report + length);
    protocol1::SubstituteAfterReportId(plain.data(), length, ScrambleTable);
    return plain;
}

bool Protocol1Device::OnSetOutputReport(const std::uint8_t* report, std::size_t length)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (length != kReportSize) return Refuse("output report of " + std::to_string(length) + " bytes");
    if (report[0] != kOutputReportId) return Refuse("output report id " + HexByte(report[0]));

    const std::vector<std::uint8_t> recovered = Recover(report, length);
    const std::uint8_t* plain = recovered.data();
    const std::uint8_t header = protocol1::ReadHeader(plain);
    const std::uint8_t dataFieldSize = protocol1::ReadDataFieldSize(plain);
    if (header != protocol1::kHeader || dataFieldSize != protocol1::kDataFieldSize) {
        return Refuse("bad header " + HexByte(header) + " " + HexByte(dataFieldSize));
    }
    const std::uint8_t sum = protocol1::ChecksumOf(plain);
    const std::uint8_t checksum = protocol1::ReadChecksum(plain);
    if (sum != checksum) return Refuse("bad checksum " + HexByte(checksum) + ", expected " + HexByte(sum));

    const std::uint8_t command = protocol1::ReadCommand(plain);
    // After the finish command the boot loader hands over to the new application.
    if (finishCount_ > 0) return Refuse("report " + HexByte(command) + " after finish");

    switch (command) {
    case protocol1::kIdentifyCommand: return Identify(plain);
    case protocol1::kEraseCommand: return Erase(plain);
    case protocol1::kProgramCommand: return Program(plain);
    case protocol1::kFinishCommand: return Finish(plain);
    default: return Refuse("unknown command " + HexByte(command));
    }
}

bool Protocol1Device::Identify(const std::uint8_t* plain)
{
    // Everything after the command is 0, but for the checksum.
    for (std::size_t i = protocol1::kCommandField.End(); i < kReportSize; ++i) {
        if (i != protocol1::kChecksumField.offset && plain[i] != 0x00) {
            return Refuse("identify with non-zero byte " + std::to_string(i));
        }
    }
    ++identifyCount_;
    replyPending_ = true;
    return true;
}

bool Protocol1Device::Erase(const std::uint8_t* plain)
{
    const std::uint32_t address = protocol1::ReadAddress(plain);
    const std::uint8_t flag = protocol1::ReadSize(plain);
    if (flag != protocol1::kEraseWholeBlock) return Refuse("erase of " + HexAddress(address) + " with byte 6 " + HexByte(flag));
    if (address % kBlockSize != 0) return Refuse("erase of unaligned address " + HexAddress(address));
    if (address < kRegionStart || address >= kFlashSize) {
        return Refuse("erase outside the region at " + HexAddress(address));
    }
    for (std::uint32_t i = 0; i < kBlockSize; ++i) flash_[address + i] = 0xFF;
    ++eraseCounts_[address / kBlockSize];
    for (std::uint32_t chunk = address; chunk < address + kBlockSize; chunk += kChunkSize) {
        programCounts_[chunk / kChunkSize] = 0;
    }
    return true;
}

bool Protocol1Device::Program(const std::uint8_t* plain)
{
    const std::uint32_t address = protocol1::ReadAddress(plain);
    const std::uint32_t size = protocol1::ReadSize(plain);
    if (size == 0 || size > kChunkSize) {
        return Refuse("program of " + HexAddress(address) + " with " + std::to_string(size) + " bytes");
    }
    if (address % kChunkSize != 0) return Refuse("program of unaligned address " + HexAddress(address));
    if (address < kRegionStart || address + size > kFlashSize) {
        return Refuse("program outside the region at " + HexAddress(address));
    }
    if (eraseCounts_[address / kBlockSize] == 0) {
        return Refuse("program of " + HexAddress(address) + " in a block not erased");
    }
    for (std::uint32_t i = 0; i < size; ++i) {
        if (flash_[address + i] != 0xFF) return Refuse("program over programmed bytes at " + HexAddress(address));
    }
    const std::uint8_t* data = protocol1::DataField(plain);
    for (std::uint32_t i = 0; i < size; ++i) flash_[address + i] = data[i];
    ++programCounts_[address / kChunkSize];
    return true;
}

bool Protocol1Device::Finish(const std::uint8_t* plain)
{
    const std::uint32_t address = protocol1::ReadAddress(plain);
    const std::uint8_t size = protocol1::ReadSize(plain);
    if (address != kRegionStart || size != 0x00) {
        return Refuse("finish with " + HexByte(address >> 8) + " " + HexByte(address & 0xFF) + " " + HexByte(size));
    }
    ++finishCount_;
    return true;
}

bool Protocol1Device::OnWrite(const std::uint8_t*, std::size_t)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return Refuse("output report written to the interrupt pipe: the boot loader takes set-output requests only");
}

bool Protocol1Device::OnRead(std::uint8_t*, std::size_t)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return Refuse("read of the interrupt pipe: the boot loader answers get-input requests only");
}

bool Protocol1Device::OnGetInputReport(std::uint8_t* buffer, std::size_t length)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (length != kReplyLength) return Refuse("input report read with " + std::to_string(length) + " bytes");
    if (buffer[0] != kInputReportId) return Refuse("input report id " + HexByte(buffer[0]));
    if (noIdentifyReply_ || !replyPending_) return false;
    replyPending_ = false;
    protocol1::IdentifyReply reply{};
    reply.productLow = 0x59;  // product, low byte
    reply.vendorHigh = 0x25;  // vendor, high byte
    reply.version = 0x0100;   // boot loader version 1.0
    reply.flashSize = kFlashSize;
    reply.regionStart = kRegionStart;
    protocol1::PutIdentifyReply(buffer, reply);
    return true;
}

std::vector<std::uint8_t> Protocol1Device::Flash() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return flash_;
}

bool Protocol1Device::DownloadComplete() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (finishCount_ != 1 || !protocolErrors.empty()) return false;
    for (std::uint32_t block = kRegionStart; block < kFlashSize; block += kBlockSize) {
        if (eraseCounts_[block / kBlockSize] == 0) return false;
    }
    return true;
}

bool Protocol1Device::SetOption(const std::string& name, std::uint32_t value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (name == "no-identify-reply") {
        noIdentifyReply_ = value != 0;
        return true;
    }
    return false;
}

std::uint32_t Protocol1Device::IdentifyCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return identifyCount_;
}

std::uint32_t Protocol1Device::EraseCount(std::uint32_t blockAddress) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (blockAddress >= kFlashSize) return 0;
    return eraseCounts_[blockAddress / kBlockSize];
}

std::uint32_t Protocol1Device::ProgramCount(std::uint32_t chunkAddress) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (chunkAddress >= kFlashSize) return 0;
    return programCounts_[chunkAddress / kChunkSize];
}

std::uint32_t Protocol1Device::FinishCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return finishCount_;
}

std::shared_ptr<HidDevice> MakeProtocol1Device()
{
    return std::make_shared<Protocol1Device>();
}

}  // namespace models
