// The device side of protocol 2: a controller in update mode 2 that takes a start
// report and a stream of 56-byte data reports and programs them into its flash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "models/hid_device.h"
#include "protocol/protocol2_reports.h"

namespace models {

class Protocol2Device : public HidDevice {
public:
    static constexpr std::size_t kFlashSize = 0x8000;
    static constexpr std::uint32_t kLastOffset = protocol2::kLastOffset;
    static constexpr std::size_t kChunkLength = protocol2::kChunkSize;

    Protocol2Device();

    bool OnWrite(const std::uint8_t* report, std::size_t length) override;
    bool OnRead(std::uint8_t* buffer, std::size_t length) override;
    bool OnSetOutputReport(const std::uint8_t* report, std::size_t length) override;
    bool OnGetInputReport(std::uint8_t* buffer, std::size_t length) override;

    // The flash: erased (0xFF) by every accepted start report, programmed by the data reports.
    std::vector<std::uint8_t> Flash() const override;
    // True once the data report at the last offset was accepted after a start report.
    bool DownloadComplete() const override;
    // "refuse-start" K: the first K start reports are refused (the device is not ready yet).
    bool SetOption(const std::string& name, std::uint32_t value) override;

    std::uint32_t StartReportsAccepted() const;
    std::uint32_t DataReportsAccepted() const;
    // Byte ranges [first, end) of the flash that a data report has programmed, merged.
    std::vector<std::pair<std::size_t, std::size_t>> ProgrammedRanges() const;

private:
    bool TakeStart(const std::uint8_t* report);
    bool TakeData(const std::uint8_t* report);

    mutable std::mutex mutex_;
    std::vector<std::uint8_t> flash_;
    std::vector<bool> programmed_;
    bool started_ = false;
    bool complete_ = false;
    std::uint32_t nextOffset_ = 0;
    std::uint32_t startRefusalsLeft_ = 0;
    std::uint32_t startsAccepted_ = 0;
    std::uint32_t dataAccepted_ = 0;
};

}  // namespace models
