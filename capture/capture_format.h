// The wire layouts of USB capture files, shared by the writer (capture/capture_writer.cpp) and the
// reader (capture/capture_reader.cpp): pcapng blocks, the usbmon and USBPcap packet headers and
// their status codes. The USB descriptors and requests a HID capture holds are USB's own
// (codec/usb_layouts.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/usb_layouts.h"

namespace capture {

// pcapng (every block: type, total length, body padded to 4 bytes, total length again).
inline constexpr std::uint32_t kSectionHeaderBlock = 0x0A0D0D0A;
inline constexpr std::uint32_t kInterfaceDescriptionBlock = 0x00000001;
inline constexpr std::uint32_t kObsoletePacketBlock = 0x00000002;
inline constexpr std::uint32_t kSimplePacketBlock = 0x00000003;
inline constexpr std::uint32_t kNameResolutionBlock = 0x00000004;
inline constexpr std::uint32_t kInterfaceStatisticsBlock = 0x00000005;
inline constexpr std::uint32_t kEnhancedPacketBlock = 0x00000006;
inline constexpr std::uint32_t kDecryptionSecretsBlock = 0x0000000A;
inline constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;
inline constexpr std::uint16_t kOptionEnd = 0;
inline constexpr std::uint16_t kOptionIfName = 2;          // interface description
inline constexpr std::uint16_t kOptionShbUserApplication = 4;  // section header
inline constexpr std::uint16_t kOptionIfTimeResolution = 9;    // 1 byte: 10^-n, or 2^-n with bit 7
inline constexpr std::uint16_t kOptionIfTimeOffset = 14;       // 8 bytes: seconds added to every time

// Link types.
inline constexpr std::uint16_t kLinkUsbLinux = 189;         // usbmon, 48-byte header
inline constexpr std::uint16_t kLinkUsbLinuxMmapped = 220;  // usbmon, 64-byte header
inline constexpr std::uint16_t kLinkUsbPcap = 249;

// USB transfer types, numbered alike in usbmon's and USBPcap's headers.
inline constexpr std::uint8_t kTransferIsochronous = 0;
inline constexpr std::uint8_t kTransferInterrupt = 1;
inline constexpr std::uint8_t kTransferControl = 2;
inline constexpr std::uint8_t kTransferBulk = 3;

// The Linux usbmon header (struct usbmon_packet of the kernel's Documentation/usb/usbmon.rst) in
// the capturing host's byte order; the 48-byte form ends after the setup bytes.
struct UsbmonField {
    static constexpr std::size_t kId = 0;          // u64 URB tag, the same in S and C
    static constexpr std::size_t kType = 8;        // 'S' submission, 'C' completion, 'E' error
    static constexpr std::size_t kTransfer = 9;    // transfer type
    static constexpr std::size_t kEndpoint = 10;   // endpoint number | 0x80 for IN
    static constexpr std::size_t kDevice = 11;     // device address
    static constexpr std::size_t kBus = 12;        // u16
    static constexpr std::size_t kSetupFlag = 14;  // 0: setup packet present, '-': none
    static constexpr std::size_t kDataFlag = 15;   // 0: data present, otherwise why not
    static constexpr std::size_t kSeconds = 16;    // s64
    static constexpr std::size_t kMicros = 24;     // s32
    static constexpr std::size_t kStatus = 28;     // s32, -errno
    static constexpr std::size_t kLength = 32;     // u32 requested (S) or actual (C) length
    static constexpr std::size_t kCaptured = 36;   // u32 data bytes that follow the header
    static constexpr std::size_t kSetup = 40;      // 8 bytes
    static constexpr std::size_t kShortSize = 48;  // link type 189 ends here
    static constexpr std::size_t kInterval = 48;   // s32, frames, interrupt and iso only
    static constexpr std::size_t kStartFrame = 52; // s32
    static constexpr std::size_t kFlags = 56;      // u32 URB transfer flags
    static constexpr std::size_t kIsoCount = 60;   // u32
    static constexpr std::size_t kSize = 64;
};
inline constexpr char kUsbmonSubmit = 'S';
inline constexpr char kUsbmonComplete = 'C';
inline constexpr char kUsbmonError = 'E';
// URB transfer flags (the kernel's include/linux/usb.h).
inline constexpr std::uint32_t kUrbNoTransferDmaMap = 0x0004;  // URB_NO_TRANSFER_DMA_MAP: usbhid's own URBs
inline constexpr std::uint32_t kUrbDirIn = 0x0200;             // URB_DIR_IN, set by usb_submit_urb
// -errno values of a URB's status.
inline constexpr std::int32_t kErrnoNoEntry = -2;        // ENOENT: killed (usb_kill_urb)
inline constexpr std::int32_t kErrnoNoDevice = -19;      // ENODEV: no device to submit to
inline constexpr std::int32_t kErrnoPipe = -32;          // EPIPE: the endpoint stalled
inline constexpr std::int32_t kErrnoProtocol = -71;      // EPROTO
inline constexpr std::int32_t kErrnoConnReset = -104;    // ECONNRESET: unlinked
inline constexpr std::int32_t kErrnoShutdown = -108;     // ESHUTDOWN: the device went away
inline constexpr std::int32_t kErrnoInProgress = -115;   // EINPROGRESS: a submission

// The USBPcap header (USBPCAP_BUFFER_PACKET_HEADER), packed, always little-endian; a control
// transfer's header has one more byte, its stage.
struct UsbPcapField {
    static constexpr std::size_t kHeaderLength = 0;  // u16
    static constexpr std::size_t kIrpId = 2;         // u64, the same in submission and completion
    static constexpr std::size_t kStatus = 10;       // u32 USBD_STATUS
    static constexpr std::size_t kFunction = 14;     // u16 URB function
    static constexpr std::size_t kInfo = 16;         // bit 0: 1 on the way back from the device
    static constexpr std::size_t kBus = 17;          // u16
    static constexpr std::size_t kDevice = 19;       // u16
    static constexpr std::size_t kEndpoint = 21;
    static constexpr std::size_t kTransfer = 22;
    static constexpr std::size_t kDataLength = 23;   // u32 bytes after the header
    static constexpr std::size_t kSize = 27;
    static constexpr std::size_t kControlStage = 27;
    static constexpr std::size_t kControlSize = 28;
};
inline constexpr std::uint8_t kInfoFromDevice = 0x01;
inline constexpr std::uint8_t kStageSetup = 0;
inline constexpr std::uint8_t kStageData = 1;
inline constexpr std::uint8_t kStageComplete = 3;
// USBD_STATUS values: the top two bits 11 mark an error.
inline constexpr std::uint32_t kUsbdSuccess = 0x00000000;
inline constexpr std::uint32_t kUsbdErrorBits = 0xC0000000;
inline constexpr std::uint32_t kUsbdStallPid = 0xC0000004;
inline constexpr std::uint32_t kUsbdTransactionError = 0xC0000011;
inline constexpr std::uint32_t kUsbdEndpointHalted = 0xC0000030;
inline constexpr std::uint32_t kUsbdDeviceGone = 0xC0007000;
inline constexpr std::uint32_t kUsbdCanceled = 0xC0010000;

}  // namespace capture
