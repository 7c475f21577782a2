// The checks that the topology walk makes on what a device returns: the scan of a
// configuration descriptor set for string indices, and the acceptance of a string reply. The
// descriptors' fields are USB's (codec/usb_layouts.h).
// Every byte comes from the device and is untrusted; nothing here reads outside the bytes it
// is given.
#pragma once

#include <cstddef>
#include <cstdint>

// Little-endian fields of the hub driver's records and of USB descriptors.
inline std::uint16_t ReadLe16(const std::uint8_t* bytes)
{
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}
inline std::uint32_t ReadLe32(const std::uint8_t* bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}
inline void WriteLe16(std::uint8_t* bytes, std::uint16_t value)
{
    bytes[0] = static_cast<std::uint8_t>(value);
    bytes[1] = static_cast<std::uint8_t>(value >> 8);
}
inline void WriteLe32(std::uint8_t* bytes, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// True when the 18-byte device descriptor names a manufacturer, product or serial number string.
bool DeviceDescriptorNamesString(const std::uint8_t* deviceDescriptor);

// Scans a configuration descriptor set of length bytes, one descriptor at a time, for a nonzero
// iConfiguration or iInterface. A descriptor of length 0, one that would reach past the end,
// a configuration descriptor whose length is not 9 and an interface descriptor whose length is
// neither 9 nor 12 end the scan without a find.
bool ConfigurationNamesString(const std::uint8_t* set, std::size_t length);

// The reply to the identification string request: a descriptor request record of replySize
// bytes of which the driver filled bytesReturned (header included). The reply is accepted when
// it holds at least the two descriptor header bytes, the descriptor type is string, its bLength
// equals the data bytes returned and is even. Returns the number of UTF-16 code units that
// follow the descriptor header, or -1 when the reply is rejected.
int AcceptStringReply(const std::uint8_t* reply, std::size_t replySize, std::uint32_t bytesReturned);

// Lowers the ASCII letters of a NUL-terminated text in place and tells whether it then holds
// "rq4180" or "drim updata2".
bool IdentificationTextMatches(char* text);
