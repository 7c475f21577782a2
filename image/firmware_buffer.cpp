#include "image/firmware_buffer.h"

#include <cstring>
#include <new>

#include "platform/resources.h"

FirmwareBuffer firmwareBuffer;

std::int32_t LoadFirmwareImage(std::int32_t mode)
{
    const DownloadModeFacts* facts = FactsOfMode(mode);
    if (!facts) return 0;

    const std::uint8_t* image = nullptr;
    std::size_t imageSize = 0;
    if (!platform::LoadImageResource(facts->imageResource, image, imageSize) || !image) return 0;
    if (imageSize < facts->smallestImage || imageSize > facts->imageBufferSize) return 0;

    std::uint8_t* block = new (std::nothrow) std::uint8_t[facts->imageBufferSize];
    if (!block) return 0;
    std::memset(block, facts->imageFill, facts->imageBufferSize);
    std::memcpy(block, image, imageSize);

    // One download runs at a time and no load happens during one, so nothing reads the
    // replaced buffer any more.
    delete[] firmwareBuffer.data;
    firmwareBuffer.data = block;
    firmwareBuffer.size = facts->imageBufferSize;
    if (facts->transfer == Transfer::Protocol3) {
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
