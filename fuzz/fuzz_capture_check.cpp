// A capture file from the input, read, summed up and checked against a device model, and both
// renderings made: byte 0 chooses the device (bits 0 and 1), whether the flash is compared with
// an image (bit 2, the image being the input's first bytes) and whether the first device is
// named by its address (bit 3); the rest is the file. Every malformed file must end in an error
// with a reason, never in a crash.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture/capture_devices.h"
#include "capture/capture_reader.h"
#include "check/capture_check.h"
#include "check/capture_json.h"
#include "check/capture_text.h"
#include "state/download_modes.h"

namespace {

struct Ids {
    std::uint16_t vendorId;
    std::uint16_t productId;
};

// The three update-mode devices and one that has no protocol.
constexpr Ids kDevices[] = {{ModeFacts(1).vendorId, ModeFacts(1).productId},
                            {ModeFacts(2).vendorId, ModeFacts(2).productId},
                            {ModeFacts(3).vendorId, ModeFacts(3).productId},
                            {0x045E, 0x028E}};
constexpr std::size_t kImageBytes = 256;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) return 0;
    const Ids& device = kDevices[data[0] & 3];
    const bool withImage = (data[0] & 4) != 0;
    capture::CaptureContents contents;
    capture::CaptureError error;
    if (!capture::ReadCapture(data + 1, size - 1, contents, error)) {
        if (error.reason.empty()) std::abort();  // a refusal always says why
        return 0;
    }
    const std::vector<std::uint8_t> image(data, data + std::min(size, kImageBytes));
    const capture::CaptureDevices found = capture::FindDevices(contents);
    capture::CheckRequest request;
    request.vendorId = device.vendorId;
    request.productId = device.productId;
    request.image = withImage ? &image : nullptr;
    // Bit 3: only the first device's bus and address, as --address names it.
    if ((data[0] & 8) != 0 && !found.summary.devices.empty()) {
        request.byAddress = true;
        request.bus = found.summary.devices.front().bus;
        request.address = found.summary.devices.front().address;
    }
    const capture::CheckVerdict verdict = capture::CheckCapture(contents, found, request);
    // Both renderings of every outcome.
    if (capture::CheckJson(found.summary, verdict).empty() || capture::SummaryJson(found.summary).empty()) std::abort();
    if (verdict.status == capture::CheckStatus::NoSuchDevice) {
        if (capture::NoDeviceText(found.summary, verdict).empty()) std::abort();
    } else if (capture::VerdictLines(found.summary, verdict).empty()) {
        std::abort();
    }
    capture::SummaryLines(found.summary);
    return 0;
}
