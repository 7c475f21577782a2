#include "image/firmware_buffer.h"

#include <cstring>
#include <new>

#include "platform/resources.h"

FirmwareBuffer firmwareBuffer;

namespace {

struct ImageLayout {
    int resourceId;
    std::size_t bufferSize;
    std::uint8_t fill;
};

bool LayoutOf(std::int32_t mode, ImageLayout& layout)
{
    switch (mode) {
    case 1: layout = {106, kSmallImageBufferSize, 0xFF}; return true;
    case 2: layout = {107, kSmallImageBufferSize, 0xFF}; return true;
    case 3: layout = {108, kLargeImageBufferSize, 0x00}; return true;
    default: return false;
    }
}

}  // namespace

std::int32_t LoadFirmwareImage(std::int32_t mode)
{
    ImageLayout layout;
    if (!LayoutOf(mode, layout)) return 0;

    const std::uint8_t* image = nullptr;
    std::size_t imageSize = 0;
    if (!platform::LoadImageResource(layout.resourceId, image, imageSize) || !image) return 0;
    if (imageSize > layout.bufferSize) return 0;

    std::uint8_t* block = new (std::nothrow) std::uint8_t[layout.bufferSize];
    if (!block) return 0;
    std::memset(block, layout.fill, layout.bufferSize);
    std::memcpy(block, image, imageSize);

    // One download runs at a time and no load happens during one, so nothing reads the
    // replaced buffer any more.
    delete[] firmwareBuffer.data;
    firmwareBuffer.data = block;
    firmwareBuffer.size = layout.bufferSize;
    if (mode == 3) {
        firmwareBuffer.imageLength = static_cast<std::uint32_t>(imageSize);
        firmwareBuffer.blockCount = (firmwareBuffer.imageLength + 57) / 58;
        firmwareBuffer.runningTotal = 0;
    }
    return 1;
}

void ReleaseFirmwareBuffer()
{
    delete[] firmwareBuffer.data;
    firmwareBuffer = FirmwareBuffer{};
}
