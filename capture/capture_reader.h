// Reading USB captures: pcapng (as Wireshark and USBPcap write it, any byte order) and classic
// pcap files, with Linux usbmon (link types 189 and 220) or USBPcap (249) packets. Every length
// and field of the file is checked; a malformed file gives an error that names the block (or
// the record) and its offset. Packets of other link types are counted and skipped.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace capture {

// The outcome of a USB transfer as either link type states it.
enum class UsbOutcome {
    Pending,    // a submission: no outcome yet
    Ok,
    Stalled,    // the device refused it
    Cancelled,  // the host gave up on it
    Gone,       // no device
    Error,      // any other failure
};

enum class UsbEvent {
    Submit,        // the host hands the transfer down
    SubmitData,    // USBPcap: the data stage of a control transfer on its way down
    Complete,      // the transfer comes back with its outcome
    SubmitError,   // usbmon 'E': the submission itself failed
};

struct UsbPacket {
    std::uint64_t frame = 0;  // from 1 over every packet of the file, as Wireshark numbers frames
    std::int64_t seconds = 0;
    std::uint32_t nanoseconds = 0;
    UsbEvent event = UsbEvent::Submit;
    UsbOutcome outcome = UsbOutcome::Pending;
    std::int64_t status = 0;  // as the link type writes it (-errno or USBD_STATUS)
    std::uint64_t id = 0;     // URB tag or IRP id: the same in a submission and its completion
    std::uint8_t transferType = 0;  // capture::kTransferInterrupt, kTransferControl, ...
    std::uint8_t endpoint = 0;  // with the direction bit 0x80
    std::uint16_t bus = 0;
    std::uint16_t address = 0;
    bool hasSetup = false;
    std::array<std::uint8_t, 8> setup{};
    std::vector<std::uint8_t> data;
    bool truncated = false;  // the file kept fewer data bytes than the transfer carried
};

struct CaptureContents {
    std::string format;  // "pcapng" or "pcap"
    std::uint64_t frames = 0;
    std::vector<std::uint16_t> usbLinkTypes;  // the USB link types met, each once
    std::vector<std::uint16_t> otherLinkTypes;
    std::vector<UsbPacket> packets;  // the USB packets, in file order
    // The time stamp of the first frame of any link type: frame times are shown from there.
    std::int64_t firstSeconds = 0;
    std::uint32_t firstNanoseconds = 0;
};

// Where a file cannot be read, and why: the pcapng block or pcap record (numbered from 1) and
// its offset, or the file as a whole.
struct CaptureError {
    enum class Unit { File, Block, Record };
    Unit unit = Unit::File;
    std::uint64_t number = 0;
    std::string blockType;  // a block's type name ("enhanced packet"); empty for a record
    std::size_t offset = 0;
    std::string reason;
};

// "block 42 (enhanced packet) at offset 0x132c: truncated, ..." (the reason alone for the file).
std::string ErrorText(const CaptureError& error);

// Reads a whole capture held in memory. False, with the reason, when it is malformed.
bool ReadCapture(const std::uint8_t* data, std::size_t size, CaptureContents& contents, CaptureError& error);
// Reads a capture file (at most kMaxCaptureFile bytes); "-" reads standard input.
bool ReadCaptureFile(const std::string& path, CaptureContents& contents, CaptureError& error);

inline constexpr std::size_t kMaxCaptureFile = std::size_t{512} << 20;

// The name of a link type ("Linux usbmon", "USBPcap", or its number).
std::string LinkTypeName(std::uint16_t linkType);

}  // namespace capture
