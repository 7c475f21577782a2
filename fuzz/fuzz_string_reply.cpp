// The check of an identification string reply and its conversion, as the walk makes them:
// the first two input bytes give the byte count the driver reports, the rest is what it wrote
// after the request header.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "device/usb_descriptors.h"
#include "device/usb_topology.h"
#include "platform/usb.h"
#include "sim/usb_tree.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    constexpr std::size_t kReplySize = 267;
    if (size < 2) return 0;
    const std::uint32_t returned = ReadLe16(data) % 400;
    auto reply = std::make_unique<std::uint8_t[]>(kReplySize);
    std::memset(reply.get(), 0, kReplySize);
    const std::size_t written = std::min<std::size_t>(size - 2, kReplySize - 12);
    std::memcpy(reply.get() + 12, data + 2, written);

    const int units = AcceptStringReply(reply.get(), kReplySize, returned);
    if (units < 0) return 0;
    if (returned > kReplySize || 2 + 2 * static_cast<std::uint32_t>(units) != returned - 12) std::abort();

    char16_t text[128] = {};
    std::memcpy(text, reply.get() + 14, static_cast<std::size_t>(units) * 2);
    text[units] = 0;
    char* converted = WideToAnsi(text);
    if (converted == nullptr) std::abort();  // a NUL-terminated text always converts
    IdentificationTextMatches(converted);
    platform::GlobalBlockFree(converted);
    if (sim::UsbLiveBlockCount() != 0) std::abort();
    return 0;
}
