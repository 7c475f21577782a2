// The USB side of the seam in the simulated world: the simulated tree plays the host
// controller and hub drivers, and blocks are counted so that tests can see every release.
// The ANSI code page of the simulated world is UTF-8.
#include "platform/usb.h"

#include <cstring>

#include "sim/usb_text.h"
#include "sim/usb_tree.h"

namespace platform {

DeviceHandle UsbOpenNode(const std::string& path)
{
    return sim::UsbDriverOpen(path);
}

bool UsbRequest(DeviceHandle handle, std::uint32_t code, const void* in, std::uint32_t inSize,
                void* out, std::uint32_t outSize, std::uint32_t& bytesReturned,
                std::uint32_t timeLimitMs)
{
    return sim::UsbDriverRequest(handle, code, in, inSize, out, outSize, bytesReturned, timeLimitMs);
}

void UsbCloseNode(DeviceHandle handle)
{
    sim::UsbDriverClose(handle);
}

std::uint32_t UsbTickCount()
{
    return sim::UsbDriverClock();
}

std::string UsbLastFailure()
{
    return sim::UsbDriverLastFailure();
}

std::uint8_t* GlobalBlockAlloc(std::size_t size)
{
    return sim::UsbBlockAlloc(size);
}

void GlobalBlockFree(void* block)
{
    sim::UsbBlockFree(block);
}

int WideToAnsiCodePage(const char16_t* text, char* out, int outSize)
{
    if (text == nullptr || outSize < 0) return 0;
    std::size_t units = 0;
    while (text[units] != 0) ++units;
    const std::string converted = sim::Utf16ToUtf8(text, units);
    const std::size_t needed = converted.size() + 1;
    if (needed > 0x7FFFFFFF) return 0;
    if (outSize == 0) return static_cast<int>(needed);
    if (out == nullptr || static_cast<std::size_t>(outSize) < needed) return 0;
    std::memcpy(out, converted.c_str(), needed);
    return static_cast<int>(needed);
}

}  // namespace platform
