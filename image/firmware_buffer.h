// The process-wide firmware image buffer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "state/download_modes.h"

struct FirmwareBuffer {
    std::uint8_t* data = nullptr;  // the current image buffer, followed by its fill bytes
    std::size_t size = 0;          // bytes in data
    std::uint32_t imageLength = 0; // mode 3: image length
    std::uint32_t blockCount = 0;  // mode 3: number of 58-byte blocks
    std::uint32_t runningTotal = 0; // mode 3: byte sum that protocol 3 keeps while it sends
};

extern FirmwareBuffer firmwareBuffer;

inline constexpr std::size_t kSmallImageBufferSize = ModeFacts(1).imageBufferSize;  // modes 1 and 2
inline constexpr std::size_t kLargeImageBufferSize = ModeFacts(3).imageBufferSize;  // mode 3
static_assert(ModeFacts(2).imageBufferSize == kSmallImageBufferSize);

// Loads the image of mode 1, 2 or 3 into a new buffer. Returns 1 when loaded; 0, with nothing
// changed, for any other mode, a missing resource, one too short to be an image of its protocol
// (empty; for mode 1 one that ends before the application region at 0x0A00) or too long for its
// buffer, or a failed allocation.
std::int32_t LoadFirmwareImage(std::int32_t mode);

// Releases the buffer (at teardown; no worker may be reading it).
void ReleaseFirmwareBuffer();
