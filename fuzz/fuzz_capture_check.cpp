// A capture file from the input, read and checked against a device model: byte 0 chooses the
// device (bits 0 and 1) and whether the flash is compared with an image (bit 2, the image being
// the input's first bytes); the rest is the file. Every malformed file must end in an error
// with a reason, never in a crash.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture/capture_check.h"
#include "capture/capture_reader.h"
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
    std::string error;
    if (!capture::ReadCapture(data + 1, size - 1, contents, error)) {
        if (error.empty()) std::abort();  // a refusal always says why
        return 0;
    }
    const std::vector<std::uint8_t> image(data, data + std::min(size, kImageBytes));
    capture::CaptureVerdict verdict;
    if (!capture::CheckCapture(contents, device.vendorId, device.productId, withImage ? &image : nullptr, verdict,
                           error) &&
        error.empty()) {
        std::abort();
    }
    return 0;
}
