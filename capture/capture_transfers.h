// The USB transfers of a capture: each submission paired with the packet that ended it (its
// completion, or the error event of a submission that the host controller refused), in the order
// they ended, then those that never ended in the capture, in the order they began.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "capture/capture_reader.h"

namespace capture {

struct UsbTransfer {
    std::uint16_t bus = 0;
    std::uint16_t address = 0;
    std::uint8_t type = 0;      // kTransferControl, kTransferInterrupt, ...
    std::uint8_t endpoint = 0;  // with the direction bit; 0 for every control transfer
    bool in = false;            // it carries data from the device
    bool hasSetup = false;
    std::array<std::uint8_t, 8> setup{};
    std::vector<std::uint8_t> out;    // data from the host
    std::vector<std::uint8_t> input;  // data from the device
    bool truncated = false;           // the capture kept only part of its data
    UsbOutcome outcome = UsbOutcome::Pending;
    const UsbPacket* first = nullptr;  // its submission, or the packet that ended it when the capture has none
    const UsbPacket* last = nullptr;   // the packet that ended it: a completion or an error event; null while pending
};

std::vector<UsbTransfer> PairTransfers(const CaptureContents& contents);

// The fields of a transfer's setup packet (usb::SetupField).
std::uint8_t RequestType(const UsbTransfer& t);
std::uint8_t Request(const UsbTransfer& t);
std::uint8_t ValueLow(const UsbTransfer& t);   // descriptor index, report id
std::uint8_t ValueHigh(const UsbTransfer& t);  // descriptor type, report type
std::uint16_t Index(const UsbTransfer& t);     // language, interface
std::uint16_t Length(const UsbTransfer& t);

// A completed standard GET_DESCRIPTOR of that type with that bmRequestType.
bool IsDescriptorReply(const UsbTransfer& t, std::uint8_t requestType, std::uint8_t descriptorType);
// A control transfer whose setup packet makes it a standard request (enumeration and the like).
bool IsStandardRequest(const UsbTransfer& t);

}  // namespace capture
