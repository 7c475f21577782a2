// Protocol 2: a one-way stream of 64-byte output reports (report id 3) to the device of update
// mode 2. A start report, repeated until the device takes it, then 549 data reports of
// 56 image bytes, each with its 16-bit byte sum and its image offset, high byte first
// (protocol/protocol2_reports.h). Nothing is read back: whether a write was accepted is the
// only signal the device gives.

#include <cstddef>
#include <cstdint>

#include "device/device_link.h"
#include "image/firmware_buffer.h"
#include "platform/hid.h"
#include "platform/system.h"
#include "platform/ui.h"
#include "protocol/protocol2_reports.h"
#include "protocol/report_sizes.h"
#include "protocol/time_limits.h"
#include "protocol/transfers.h"
#include "state/download_state.h"

namespace {

using protocol2::kChunkSize;
using protocol2::kLastOffset;
using protocol2::kReportSize;

constexpr int kStartAttempts = 10;
constexpr std::uint32_t kStartRetryPauseMs = 1000;
constexpr std::int32_t kFinalPosition = 10000;

bool WriteReport(const std::uint8_t* report)
{
    return platform::HidWriteReport(deviceLink->transferHandle, report, kReportSize, kReportWriteLimitMs).done();
}

// Writes the start report until the device takes it, pausing after every refusal.
bool StartHandshake()
{
    std::uint8_t start[kReportSize];
    protocol2::PutStart(start);
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        if (!TransferGoesOn(false)) return false;
        if (WriteReport(start)) return true;
        platform::SleepMs(kStartRetryPauseMs);
    }
    return false;
}

// The chunk at offset from the current image buffer, or null when the buffer does not hold it.
// The buffer is looked up anew for every chunk: a new load replaces it as a whole.
const std::uint8_t* ChunkAt(std::uint32_t offset)
{
    const std::uint8_t* data = firmwareBuffer.data;
    if (data == nullptr || firmwareBuffer.size < offset + kChunkSize) return nullptr;
    return data + offset;
}

bool ImageBufferHoldsStream()
{
    return firmwareBuffer.data != nullptr && firmwareBuffer.size >= protocol2::kStreamSize;
}

}  // namespace

bool DownloadProtocol2(platform::WindowHandle dialog)
{
    if (deviceLink == nullptr || !ImageBufferHoldsStream()) return false;
    if (!TransferHandleCarries(kReportSize, 0)) return false;

    if (!StartHandshake()) return false;

    std::uint8_t report[kReportSize];
    for (std::uint32_t offset = 0;; offset += kChunkSize) {
        const std::uint8_t* chunk = ChunkAt(offset);
        if (chunk == nullptr || !TransferGoesOn(true)) return false;

        protocol2::PutData(report, offset, chunk);
        if (!WriteReport(report)) return false;

        platform::SendProgress(dialog, static_cast<std::int32_t>(10000u * offset / 32768u + 1u));
        if (protocol2::ReadOffset(report) == kLastOffset) {
            platform::SendProgress(dialog, kFinalPosition);
            return true;
        }
    }
}
