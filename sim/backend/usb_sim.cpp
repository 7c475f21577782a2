// The USB side of the seam in the simulated world: the simulated tree plays the host
// controller and hub drivers, and blocks are counted so that tests can see every release.
// The ANSI code page of the simulated world is UTF-8.
#include "platform/usb.h"

#include "codec/utf8_text.h"

#include "sim/usb_tree.h"

namespace platform {

Opened UsbOpenNode(const std::string& path)
{
    return sim::UsbDriverOpen(path);
}

Outcome UsbRequest(DeviceHandle handle, std::uint32_t code, const void* in, std::uint32_t inSize,
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
    return codec::WideToUtf8CodePage(text, out, outSize);
}

}  // namespace platform
