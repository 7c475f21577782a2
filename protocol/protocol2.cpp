// Protocol 2: a one-way stream of 64-byte output reports (report id 3) to the device of update
// mode 2. A start report, repeated until the device takes it, then 549 data reports of
// 56 image bytes, each with its 16-bit byte sum and its image offset, high byte first. Nothing
// is read back: whether a write was accepted is the only signal the device gives.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "device/device_link.h"
#include "image/firmware_buffer.h"
#include "platform/hid.h"
#include "platform/system.h"
#include "platform/ui.h"
#include "protocol/report_sizes.h"
#include "protocol/time_limits.h"
#include "protocol/transfers.h"

namespace {

constexpr std::size_t kReportLength = 64;
constexpr std::size_t kChunkLength = 56;
constexpr std::size_t kDataStart = 8;
constexpr std::uint8_t kReportId = 0x03;
constexpr std::uint8_t kPrefixHigh = 0x25;
constexpr std::uint8_t kPrefixLow = 0x63;
constexpr std::uint8_t kStartCommand = 0x47;
constexpr std::uint8_t kDataCommand = 0x87;
constexpr int kStartAttempts = 10;
constexpr std::uint32_t kStartRetryPauseMs = 1000;
constexpr std::uint32_t kLastOffset = 0x77E0;
constexpr std::int32_t kFinalPosition = 10000;

// The image bytes the stream reads: offsets 0 to kLastOffset + 55.
constexpr std::size_t kBytesSent = kLastOffset + kChunkLength;

bool WriteReport(const std::uint8_t* report)
{
    return platform::HidWriteReport(deviceLink->transferHandle, report, kReportLength,
                                    kReportWriteLimitMs);
}

// Writes the start report until the device takes it, pausing after every refusal.
bool StartHandshake()
{
    std::uint8_t start[kReportLength] = {kReportId, kPrefixHigh, kPrefixLow, kStartCommand};
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
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
    if (data == nullptr || firmwareBuffer.size < offset + kChunkLength) return nullptr;
    return data + offset;
}

bool ImageBufferHoldsStream()
{
    return firmwareBuffer.data != nullptr && firmwareBuffer.size >= kBytesSent;
}

}  // namespace

bool DownloadProtocol2(platform::WindowHandle dialog)
{
    if (deviceLink == nullptr || !ImageBufferHoldsStream()) return false;
    if (!TransferHandleCarries(kReportLength, 0)) return false;

    if (!StartHandshake()) return false;

    std::uint8_t report[kReportLength] = {kReportId, kPrefixHigh, kPrefixLow, kDataCommand};
    for (std::uint32_t offset = 0;; offset += kChunkLength) {
        const std::uint8_t* chunk = ChunkAt(offset);
        if (chunk == nullptr) return false;

        std::memset(report + 4, 0, kReportLength - 4);
        report[6] = static_cast<std::uint8_t>(offset >> 8);
        report[7] = static_cast<std::uint8_t>(offset);
        std::memcpy(report + kDataStart, chunk, kChunkLength);
        std::uint32_t sum = 0;
        for (std::size_t i = kDataStart; i < kReportLength; ++i) sum += report[i];
        report[4] = static_cast<std::uint8_t>(sum >> 8);
        report[5] = static_cast<std::uint8_t>(sum);

        if (!WriteReport(report)) return false;

        platform::SendProgress(dialog, static_cast<std::int32_t>(10000u * offset / 32768u + 1u));
        if (report[6] == (kLastOffset >> 8) && report[7] == (kLastOffset & 0xFF)) {
            platform::SendProgress(dialog, kFinalPosition);
            return true;
        }
    }
}
