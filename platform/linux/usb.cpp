// The USB side of the seam on Linux. Linux has no host-controller objects ("\\.\HCD0") nor hub
// driver requests, so no node opens and the topology walk finds nothing.
#include "platform/usb.h"

#include <cstdlib>

#include "codec/utf8_text.h"
#include "platform/system.h"

namespace platform {

namespace {

constexpr const char* kNoNodes = "no USB host controller nodes on Linux";

}  // namespace

Opened UsbOpenNode(const std::string& path) { return {kInvalidHandle, Failure(Status::Failed, "open " + path, kNoNodes)}; }

Outcome UsbRequest(DeviceHandle, std::uint32_t code, const void*, std::uint32_t, void*, std::uint32_t,
                   std::uint32_t& bytesReturned, std::uint32_t)
{
    bytesReturned = 0;
    return Failure(Status::Failed, "request " + std::to_string(code), kNoNodes);
}

std::uint32_t UsbTickCount() { return TickCount(); }

void UsbCloseNode(DeviceHandle) {}

std::uint8_t* GlobalBlockAlloc(std::size_t size)
{
    return static_cast<std::uint8_t*>(std::calloc(size ? size : 1, 1));
}

void GlobalBlockFree(void* block) { std::free(block); }

// The ANSI code page of the Linux program is UTF-8.
int WideToAnsiCodePage(const char16_t* text, char* out, int outSize)
{
    return codec::WideToUtf8CodePage(text, out, outSize);
}

}  // namespace platform
