// The device side of protocol 3: a controller in update mode 3 that takes a begin
// report, numbered 58-byte blocks and an end report, and answers each with a 65-byte reply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "models/hid_device.h"
#include "protocol/protocol3_reports.h"

namespace models {

class Protocol3Device : public HidDevice {
public:
    static constexpr std::size_t kFlashCapacity = 0x40000;  // the largest image it takes
    static constexpr std::size_t kBlockLength = protocol3::kBlockSize;

    Protocol3Device();
    // The same controller with other collections, in this order (the firmware answers on any).
    explicit Protocol3Device(std::vector<HidCollection> collections);

    bool OnWrite(const std::uint8_t* report, std::size_t length) override;
    bool OnRead(std::uint8_t* buffer, std::size_t length) override;
    bool OnSetOutputReport(const std::uint8_t* report, std::size_t length) override;
    bool OnGetInputReport(std::uint8_t* buffer, std::size_t length) override;

    // The image as assembled from the blocks (the begin report's length; zero where no block
    // has arrived yet).
    std::vector<std::uint8_t> Flash() const override;
    // True once an end report matched every block of the download. An end report that comes
    // with blocks missing is answered (status 1 in reply byte 3) but completes nothing.
    bool DownloadComplete() const override;

    std::uint32_t BlocksAccepted() const;
    std::uint32_t EndReportsSeen() const;

private:
    bool TakeBegin(const std::uint8_t* report);
    bool TakeBlock(const std::uint8_t* report);
    bool TakeEnd(const std::uint8_t* report);

    enum class Phase { Idle, Receiving, Ended };

    mutable std::mutex mutex_;
    Phase phase_ = Phase::Idle;
    std::vector<std::uint8_t> flash_;
    std::uint32_t blockCount_ = 0;
    std::uint32_t imageLength_ = 0;
    std::uint32_t nextBlock_ = 1;
    std::uint32_t sumSent_ = 0;      // byte sum of the data fields as received
    std::uint32_t blocksAccepted_ = 0;
    std::uint32_t endsSeen_ = 0;
    bool complete_ = false;
    bool replyPending_ = false;
    std::uint8_t replyCommand_ = 0;
    std::uint8_t replyStatus_ = 0;
};

}  // namespace models
