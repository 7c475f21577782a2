// The device side of protocol 1: a controller in update mode 1.
//
// It behaves as its boot loader does: every output report is recovered through ScrambleTable,
// its header and checksum are checked, and the commands act on a 32 KiB flash. The boot loader
// itself lives below 0x0A00 and is never touched; the application region runs from 0x0A00 to
// the end of the flash. It erases whole 512-byte blocks of the region and programs chunks of up
// to 32 bytes at 32-byte boundaries, only into erased blocks and only over blank bytes; every
// refused or malformed report is recorded in protocolErrors. After the finish command the boot
// loader hands over to the application and takes nothing more. Before a download the flash holds an old application, a pattern that is
// nowhere blank over a whole chunk, so a block left unerased or a chunk left unprogrammed shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "models/hid_device.h"
#include "protocol/protocol1_reports.h"

namespace models {

class Protocol1Device : public HidDevice {
public:
    static constexpr std::uint32_t kFlashSize = 0x8000;
    static constexpr std::uint32_t kRegionStart = protocol1::kRegionStart;
    static constexpr std::uint32_t kBlockSize = protocol1::kEraseBlockSize;
    static constexpr std::uint32_t kChunkSize = protocol1::kChunkSize;
    static constexpr std::size_t kReplyLength = protocol1::kReplySize;

    Protocol1Device();

    bool OnWrite(const std::uint8_t* report, std::size_t length) override;
    bool OnRead(std::uint8_t* buffer, std::size_t length) override;
    bool OnSetOutputReport(const std::uint8_t* report, std::size_t length) override;
    bool OnGetInputReport(std::uint8_t* buffer, std::size_t length) override;
    std::vector<std::uint8_t> Recover(const std::uint8_t* report, std::size_t length) const override;
    std::vector<std::uint8_t> Flash() const override;
    // One accepted finish, every block of the region erased, and no protocol error.
    bool DownloadComplete() const override;
    // "no-identify-reply" = 1: input report 2 is never answered.
    bool SetOption(const std::string& name, std::uint32_t value) override;

    // The byte the flash held at address before any download.
    static std::uint8_t OldContent(std::uint32_t address);

    // What the device has done so far.
    std::uint32_t IdentifyCount() const;
    std::uint32_t EraseCount(std::uint32_t blockAddress) const;
    std::uint32_t ProgramCount(std::uint32_t chunkAddress) const;
    std::uint32_t FinishCount() const;

private:
    bool Identify(const std::uint8_t* plain);
    bool Erase(const std::uint8_t* plain);
    bool Program(const std::uint8_t* plain);
    bool Finish(const std::uint8_t* plain);

    mutable std::mutex mutex_;
    std::vector<std::uint8_t> flash_;
    std::vector<std::uint32_t> eraseCounts_;    // per 512-byte block of the flash
    std::vector<std::uint32_t> programCounts_;  // per 32-byte chunk of the flash
    std::uint32_t identifyCount_ = 0;
    std::uint32_t finishCount_ = 0;
    bool replyPending_ = false;
    bool noIdentifyReply_ = false;
};

}  // namespace models
