// The devices of a capture, for a person or a program to read: each device is one enumeration,
// a bus and address from the device descriptor its enumeration returned until the next device
// descriptor there after traffic of its own (a replug or a reset); traffic at an address whose
// enumeration the capture did not see (it began later) is a device without descriptors. For
// each: its ids and strings, its interfaces and their report descriptors where the capture has
// them, and its transfers counted by endpoint and type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "capture/capture_reader.h"
#include "capture/capture_transfers.h"
#include "codec/hid_report_descriptor.h"

namespace capture {

// A frame as Wireshark shows it: its number and its time from the first frame.
struct FrameTime {
    std::uint64_t frame = 0;
    bool negative = false;  // a time stamp before the first frame's
    std::uint64_t seconds = 0;
    std::uint32_t microseconds = 0;
};

FrameTime FrameTimeOf(const CaptureContents& contents, const UsbPacket& packet);

struct EndpointTally {
    std::uint8_t endpoint = 0;  // with the direction bit; 0 for control transfers
    std::uint8_t type = 0;      // kTransferControl, kTransferInterrupt, ...
    std::uint32_t transfers = 0;
    std::uint32_t failed = 0;  // not completed, or completed with an error
};

struct InterfaceSummary {
    std::uint8_t number = 0;
    std::uint8_t alternate = 0;
    std::uint8_t interfaceClass = 0;
    std::uint8_t subclass = 0;
    std::uint8_t protocol = 0;
    std::vector<std::uint8_t> endpoints;  // addresses as declared, with the direction bit
    bool reportDescriptorSeen = false;    // a HID interface whose report descriptor the capture holds
    std::string reportDescriptorError;    // why it could not be parsed
    std::vector<codec::HidTopLevelCollection> collections;
};

struct DeviceSummary {
    std::uint16_t bus = 0;
    std::uint16_t address = 0;
    FrameTime first;           // its first transfer
    bool described = false;    // the capture holds its device descriptor
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string manufacturer;  // its strings, where the capture holds them
    std::string product;
    std::string serialNumber;
    bool configured = false;          // the capture holds its configuration descriptor
    std::string configurationError;   // why that descriptor could not be read
    std::vector<InterfaceSummary> interfaces;
    std::vector<EndpointTally> endpoints;  // in the order of endpoint and type
};

struct CaptureSummary {
    std::string format;
    std::uint64_t frames = 0;
    std::vector<std::uint16_t> usbLinkTypes;
    std::vector<std::uint16_t> otherLinkTypes;
    std::vector<DeviceSummary> devices;  // in the order they first appear
};

struct CaptureDevices {
    CaptureSummary summary;
    std::vector<UsbTransfer> transfers;
    std::vector<std::vector<std::size_t>> transfersOf;  // per device: its transfers, in the order they ended
};

CaptureDevices FindDevices(const CaptureContents& contents);

}  // namespace capture
