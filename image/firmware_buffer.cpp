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
    std::size_t smallestImage;  // a shorter resource is no image of its protocol
};

// Protocol 1 programs nothing below its application region at 0x0A00 (the boot loader's): an
// image that does not reach into the region would only erase it.
constexpr std::size_t kSmallestMode1Image = 0x0A00 + 1;

bool LayoutOf(std::int32_t mode, ImageLayout& layout)
{
    switch (mode) {
    case 1: layout = {106, kSmallImageBufferSize, 0xFF, kSmallestMode1Image}; return true;
    case 2: layout = {107, kSmallImageBufferSize, 0xFF, 1}; return true;
    case 3: layout = {108, kLargeImageBufferSize, 0x00, 1}; return true;
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
    if (imageSize < layout.smallestImage || imageSize > layout.bufferSize) return 0;

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
