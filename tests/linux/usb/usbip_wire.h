// The USB/IP messages that the kernel's virtual host controller (vhci-hcd) and a device exchange
// once the device is attached (the kernel's Documentation/usb/usbip_protocol.rst): every message
// is a 48-byte header in network byte order; an OUT submission's data follows its header, and an
// IN completion's data follows its own.
//
//   host -> device   USBIP_CMD_SUBMIT  a transfer (URB): endpoint, direction, length, setup packet
//                    USBIP_CMD_UNLINK  cancel the submission with that sequence number
//   device -> host   USBIP_RET_SUBMIT  its completion: status (0 or -errno), actual length
//                    USBIP_RET_UNLINK  -ECONNRESET when the submission was still pending, 0 when
//                                      it had completed already
//
// The host is the kernel, but its headers are read as untrusted: ParseCommand takes only what
// this device can serve and says why it refuses the rest.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace rig::usbip {

inline constexpr std::size_t kHeaderSize = 48;
using Header = std::array<std::uint8_t, kHeaderSize>;

// The fields every message starts with (u32 each).
struct BasicField {
    static constexpr std::size_t kCommand = 0;
    static constexpr std::size_t kSeqnum = 4;
    static constexpr std::size_t kDevid = 8;      // (bus << 16) | device from the host, 0 from the device
    static constexpr std::size_t kDirection = 12; // 0 OUT, 1 IN; 0 from the device
    static constexpr std::size_t kEndpoint = 16;  // number without direction; 0 from the device
};

struct SubmitField {  // USBIP_CMD_SUBMIT
    static constexpr std::size_t kTransferFlags = 20;
    static constexpr std::size_t kBufferLength = 24;  // s32: bytes to send (OUT) or room for (IN)
    static constexpr std::size_t kStartFrame = 28;
    static constexpr std::size_t kPacketCount = 32;   // s32: isochronous packets; 0 or -1 otherwise
    static constexpr std::size_t kInterval = 36;
    static constexpr std::size_t kSetup = 40;         // 8 bytes, control transfers only
};

struct ReturnField {  // USBIP_RET_SUBMIT
    static constexpr std::size_t kStatus = 20;        // s32: 0 or -errno
    static constexpr std::size_t kActualLength = 24;  // s32
    static constexpr std::size_t kStartFrame = 28;
    static constexpr std::size_t kPacketCount = 32;   // s32: -1, not isochronous
    static constexpr std::size_t kErrorCount = 36;
};

struct UnlinkField {  // USBIP_CMD_UNLINK and USBIP_RET_UNLINK
    static constexpr std::size_t kUnlinkSeqnum = 20;  // the submission to cancel (command)
    static constexpr std::size_t kStatus = 20;        // s32 (return)
};

inline constexpr std::uint32_t kCmdSubmit = 1;
inline constexpr std::uint32_t kCmdUnlink = 2;
inline constexpr std::uint32_t kRetSubmit = 3;
inline constexpr std::uint32_t kRetUnlink = 4;
inline constexpr std::uint32_t kDirectionOut = 0;
inline constexpr std::uint32_t kDirectionIn = 1;
inline constexpr std::uint32_t kNotIsochronous = 0xFFFFFFFF;

// The longest transfer this device takes or answers: a control transfer's data stage at most
// (wLength is 16 bits); its interrupt transfers are one packet.
inline constexpr std::int32_t kLongestTransfer = 0xFFFF;
inline constexpr std::uint32_t kEndpointCount = 16;

// A command from the host, read from its header.
struct Command {
    std::uint32_t command = 0;
    std::uint32_t seqnum = 0;
    bool in = false;               // USBIP_CMD_SUBMIT: the transfer's direction
    std::uint8_t endpoint = 0;     // its endpoint number, 0 to 15
    std::uint32_t length = 0;      // its buffer length
    std::array<std::uint8_t, 8> setup{};
    std::uint32_t unlinkSeqnum = 0;  // USBIP_CMD_UNLINK
};

// Reads a command header; false, with the reason, for anything but a submission or an unlink
// that this device can serve (an isochronous transfer, an endpoint or length out of range).
bool ParseCommand(const Header& header, Command& command, std::string& error);

// The header of a completion (USBIP_RET_SUBMIT) and of an unlink's answer (USBIP_RET_UNLINK).
Header ReturnSubmit(std::uint32_t seqnum, std::int32_t status, std::uint32_t actualLength);
Header ReturnUnlink(std::uint32_t seqnum, std::int32_t status);

}  // namespace rig::usbip
