// Protocol 3: the image goes to the device of update mode 3 in numbered 58-byte blocks between a
// begin report and an end report. Every report is a 65-byte output report (report id 0, then
// the device's 64 bytes), fields low byte first (protocol/protocol3_reports.h), and every report
// is acknowledged by a 65-byte reply whose content is not examined. The end report carries the
// byte sum of the block data sent, which firmwareBuffer.runningTotal keeps.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "device/device_link.h"
#include "image/firmware_buffer.h"
#include "platform/hid.h"
#include "platform/ui.h"
#include "protocol/protocol3_reports.h"
#include "protocol/report_sizes.h"
#include "protocol/time_limits.h"
#include "protocol/transfers.h"
#include "state/download_state.h"

namespace {

using protocol3::kBlockSize;
using protocol3::kReportSize;

constexpr std::int32_t kFinalPosition = 10000;

// Block numbers and the count + 1 travel in 16 bits, the length in 24 bits.
constexpr std::uint32_t kMaxBlockCount = 0xFFFE;
constexpr std::uint32_t kMaxImageLength = 0xFFFFFF;

// One report and its reply; false when either the write or the reply read fails.
bool Exchange(const std::uint8_t* report, std::uint32_t replyLimitMs)
{
    const platform::DeviceHandle handle = deviceLink->transferHandle;
    if (!platform::HidWriteReport(handle, report, kReportSize, kReportWriteLimitMs)) return false;
    std::uint8_t reply[kReportSize] = {};
    return platform::HidReadReport(handle, reply, kReportSize, replyLimitMs).done();
}

// The image length and block count agree with each other, fit their fields, and the image lies
// inside the image buffer.
bool ImageFieldsUsable(std::uint32_t imageLength, std::uint32_t blockCount)
{
    if (firmwareBuffer.data == nullptr) return false;
    if (imageLength > kMaxImageLength || blockCount > kMaxBlockCount) return false;
    if (blockCount != (imageLength + (kBlockSize - 1)) / kBlockSize) return false;
    return imageLength <= firmwareBuffer.size;
}

// Copies the 58 data bytes of block n (from 1) from the current image buffer into field. The last
// block of an image that fills the buffer to its end has fewer bytes left in it: the rest of the
// field is 0, as the buffer's fill after a shorter image is. False when the buffer does not reach
// the block. The buffer is looked up anew for every block: a new load replaces it.
bool CopyBlockData(std::uint32_t n, std::uint8_t* field)
{
    const std::uint8_t* data = firmwareBuffer.data;
    const std::size_t offset = std::size_t{n - 1} * kBlockSize;
    if (data == nullptr || firmwareBuffer.size <= offset) return false;
    const std::size_t left = firmwareBuffer.size - offset;
    const std::size_t count = left < kBlockSize ? left : kBlockSize;
    std::memcpy(field, data + offset, count);
    std::memset(field + count, 0, kBlockSize - count);
    return true;
}

}  // namespace

bool DownloadProtocol3(platform::WindowHandle dialog)
{
    if (deviceLink == nullptr) return false;
    const std::uint32_t imageLength = firmwareBuffer.imageLength;
    const std::uint32_t blockCount = firmwareBuffer.blockCount;
    if (!ImageFieldsUsable(imageLength, blockCount)) return false;
    if (!TransferHandleCarries(kReportSize, kReportSize)) return false;

    bool result = true;
    std::uint8_t report[kReportSize];

    // A reply that the controller queued before this download (or a stray input report) must
    // not pass for the begin report's acknowledgement.
    platform::HidFlushInput(deviceLink->transferHandle);

    // The device erases its flash before it answers the begin report.
    if (!TransferGoesOn(false)) return false;
    protocol3::PutBegin(report, blockCount, imageLength);
    if (!Exchange(report, kEraseReplyLimitMs)) return false;

    for (std::uint32_t n = 1; n <= blockCount; ++n) {
        const std::uint32_t length =
            n < blockCount ? kBlockSize : imageLength - kBlockSize * (blockCount - 1);
        protocol3::PutBlock(report, n, length);
        // Asked to end, or the buffer does not reach the block: the end report follows at once.
        if (!TransferGoesOn(true) || !CopyBlockData(n, protocol3::BlockData(report))) {
            result = false;
            break;
        }

        // Counted before the write: a block that fails is part of the total too.
        firmwareBuffer.runningTotal += protocol3::BlockDataSum(report);

        if (!Exchange(report, kReplyReadLimitMs)) {
            result = false;
            break;
        }
        platform::SendProgress(dialog, static_cast<std::int32_t>(10000u * (n - 1) / blockCount));
    }

    // The end report goes out even after a failed block, so the device leaves its update state.
    protocol3::PutEnd(report, blockCount + 1, firmwareBuffer.runningTotal, imageLength);
    if (!Exchange(report, kReplyReadLimitMs)) return false;

    platform::SendProgress(dialog, kFinalPosition);
    return result;
}
