#include <array>

#include "platform/system.h"
#include "platform/ui.h"
#include "protocol/protocol1_reports.h"
#include "protocol/scrambled_report.h"
#include "protocol/transfers.h"
#include "state/download_state.h"

namespace {

using protocol1::kChunkSize;
using protocol1::kEraseBlockSize;
using protocol1::kRegionStart;

constexpr std::uint32_t kLengthLimit = 0x8000;
constexpr std::uint8_t kBlank = 0xFF;

constexpr std::size_t kOrderCapacity = 1024;

// The shortest length that still leaves the trim scan inside the region: below it the
// arithmetic of the erase and program passes would run backwards from the region start.
constexpr std::uint32_t kShortestLength = kRegionStart + 2;

bool BarUsable(platform::WindowHandle bar)
{
    return bar != nullptr && platform::IsWindowAlive(bar);
}

std::uint32_t CeilDiv(std::uint32_t value, std::uint32_t divisor)
{
    return value / divisor + (value % divisor != 0 ? 1 : 0);
}

// The end (exclusive) of the data worth programming: one past the last byte below
// length - 1 that is not blank. The byte at length - 1 is never looked at.
std::uint32_t EndOfData(const std::uint8_t* image, std::uint32_t length)
{
    std::uint32_t i = length - 2;
    if (i <= kRegionStart) return i;
    while (i > kRegionStart) {
        if (image[i] != kBlank) return i + 1;
        --i;
    }
    return kRegionStart;
}

// Ascending from start to the last chunk, then descending from just below start to chunk 0.
void FillRotatedOrder(std::array<std::uint32_t, kOrderCapacity>& order, std::uint32_t count,
                      std::uint32_t start)
{
    std::uint32_t k = 0;
    for (std::uint32_t i = start; i < count; ++i) order[k++] = i;
    for (std::uint32_t i = start; i > 0; --i) order[k++] = i - 1;
}

// Whether the first kChunkSize bytes of the report's data field are blank, whatever the size of
// the chunk it carries: after a short chunk they include what an earlier report left there.
bool ChunkIsBlank(const std::uint8_t* report)
{
    const std::uint8_t* data = protocol1::DataField(report);
    for (std::size_t i = 0; i < kChunkSize; ++i) {
        if (data[i] != kBlank) return false;
    }
    return true;
}

}  // namespace

std::int32_t RunProtocol1Transfer(const std::uint8_t* image, std::uint32_t length,
                                  const std::uint8_t* table, platform::WindowHandle progressBar)
{
    if (image == nullptr || table == nullptr) return 0;

    std::uint8_t inverse[256];
    InvertScrambleTable(table, inverse);

    const std::uint32_t clamped = length <= kLengthLimit ? length : kLengthLimit;
    if (clamped < kShortestLength) return 0;

    const platform::WindowHandle dialog = platform::GetParentWindow(progressBar);

    // One buffer serves every report; each report rewrites only the bytes it uses.
    ScrambledReport report = {};

    if (BarUsable(progressBar)) {
        platform::ShowWindowNow(progressBar);
        platform::ProgressBarSetRange(progressBar, 0, 100);
        platform::ProgressBarSetPos(progressBar, 1);
    }

    const std::uint32_t blockCount = CeilDiv(clamped - kRegionStart, kEraseBlockSize);
    for (std::uint32_t k = 0; k < blockCount; ++k) {
        const std::uint32_t address = kRegionStart + kEraseBlockSize * k;
        protocol1::PutErase(report, address);
        if (!TransferGoesOn(k > 0) || !SendScrambledReport(report, inverse)) return 0;
        platform::SendProgress(dialog, static_cast<std::int32_t>(100 * k / blockCount));
    }

    const std::uint32_t dataEnd = EndOfData(image, clamped);
    const std::uint32_t span = dataEnd - kRegionStart;
    const std::uint32_t chunkCount = CeilDiv(span, kChunkSize);
    const std::uint32_t remainder = span % kChunkSize;

    std::array<std::uint32_t, kOrderCapacity> order = {};
    if (chunkCount > 0) {
        const std::uint32_t start = platform::TickCount() % chunkCount;
        FillRotatedOrder(order, chunkCount, start);
    }

    if (BarUsable(progressBar)) {
        platform::ProgressBarSetRange(progressBar, 0, static_cast<std::uint16_t>(chunkCount));
        platform::ProgressBarSetPos(progressBar, 0);
        platform::ShowWindowNow(progressBar);
    }

    for (std::uint32_t k = 0; k < chunkCount; ++k) {
        const std::uint32_t chunk = order[k];
        const std::uint32_t address = kRegionStart + kChunkSize * chunk;
        const bool last = chunk == chunkCount - 1;
        const std::uint32_t size = last && remainder != 0 ? remainder : kChunkSize;

        protocol1::PutProgram(report, address, image + address, static_cast<std::uint8_t>(size));

        if (!ChunkIsBlank(report) && (!TransferGoesOn(true) || !SendScrambledReport(report, inverse))) return 0;
        platform::SendProgress(dialog, static_cast<std::int32_t>(k));
    }

    protocol1::PutFinish(report, kRegionStart);
    return TransferGoesOn(true) && SendScrambledReport(report, inverse) ? 1 : 0;
}
