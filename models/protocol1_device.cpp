#include "models/protocol1_device.h"

#include <cstdio>

#include "protocol/scramble_table.h"
#include "models/models.h"
#include "state/download_modes.h"

namespace models {

namespace {

constexpr std::size_t kReportLength = 64;
constexpr std::uint8_t kOutputReportId = 0x03;
constexpr std::uint8_t kInputReportId = 0x02;
constexpr std::size_t kDataOffset = 8;

constexpr std::uint8_t kIdentify = 0xB4;
constexpr std::uint8_t kErase = 0x8A;
constexpr std::uint8_t kProgram = 0x79;
constexpr std::uint8_t kFinish = 0xA4;

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
                    {0xFF00, 0x0001, kInputReportId, kReplyLength, kOutputReportId, kReportLength},
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
    for (std::size_t i = 1; i < length; ++i) plain[i] = ScrambleTable[report[i]];
    return plain;
}

bool Protocol1Device::OnSetOutputReport(const std::uint8_t* report, std::size_t length)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (length != kReportLength) return Refuse("output report of " + std::to_string(length) + " bytes");
    if (report[0] != kOutputReportId) return Refuse("output report id " + HexByte(report[0]));

    const std::vector<std::uint8_t> plain = Recover(report, length);
    if (plain[1] != 0xB5 || plain[2] != 0x38) {
        return Refuse("bad header " + HexByte(plain[1]) + " " + HexByte(plain[2]));
    }
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < kReportLength; ++i) {
        if (i != 7) sum = static_cast<std::uint8_t>(sum + plain[i]);
    }
    if (sum != plain[7]) return Refuse("bad checksum " + HexByte(plain[7]) + ", expected " + HexByte(sum));

    // After the finish command the boot loader hands over to the new application.
    if (finishCount_ > 0) return Refuse("report " + HexByte(plain[3]) + " after finish");

    switch (plain[3]) {
    case kIdentify: return Identify(plain.data());
    case kErase: return Erase(plain.data());
    case kProgram: return Program(plain.data());
    case kFinish: return Finish(plain.data());
    default: return Refuse("unknown command " + HexByte(plain[3]));
    }
}

bool Protocol1Device::Identify(const std::uint8_t* plain)
{
    for (std::size_t i = 4; i < kReportLength; ++i) {
        if (i != 7 && plain[i] != 0x00) return Refuse("identify with non-zero byte " + std::to_string(i));
    }
    ++identifyCount_;
    replyPending_ = true;
    return true;
}

bool Protocol1Device::Erase(const std::uint8_t* plain)
{
    const std::uint32_t address = static_cast<std::uint32_t>(plain[4]) << 8 | plain[5];
    if (plain[6] != 0x01) return Refuse("erase of " + HexAddress(address) + " with byte 6 " + HexByte(plain[6]));
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
    const std::uint32_t address = static_cast<std::uint32_t>(plain[4]) << 8 | plain[5];
    const std::uint32_t size = plain[6];
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
    for (std::uint32_t i = 0; i < size; ++i) flash_[address + i] = plain[kDataOffset + i];
    ++programCounts_[address / kChunkSize];
    return true;
}

bool Protocol1Device::Finish(const std::uint8_t* plain)
{
    if (plain[4] != 0x0A || plain[5] != 0x00 || plain[6] != 0x00) {
        return Refuse("finish with " + HexByte(plain[4]) + " " + HexByte(plain[5]) + " " + HexByte(plain[6]));
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
    for (std::size_t i = 1; i < length; ++i) buffer[i] = 0x00;
    buffer[1] = 0x59;  // product, low byte
    buffer[2] = 0x25;  // vendor, high byte
    buffer[3] = 0x01;  // boot loader version 1.0
    buffer[4] = 0x00;
    buffer[5] = static_cast<std::uint8_t>(kFlashSize >> 8);
    buffer[6] = static_cast<std::uint8_t>(kRegionStart >> 8);
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
