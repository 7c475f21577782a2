// The standard descriptors of a full-speed USB HID device with one configuration and one HID
// interface, as GET_DESCRIPTOR returns them: the device descriptor, and the configuration
// descriptor followed by its interface, HID and endpoint descriptors. The capture writer puts them
// in a capture's enumeration, and the Linux rig's virtual USB controllers (tests/linux/usb/)
// declare themselves with them, so both show the same device.
//
// Every field is named by its offset (USB 2.0 chapter 9.6, HID 1.11 section 6.2.1); multi-byte
// fields are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace capture {

struct DeviceDescriptorField {
    static constexpr std::size_t kLength = 0;
    static constexpr std::size_t kType = 1;
    static constexpr std::size_t kUsbRelease = 2;      // u16 bcdUSB
    static constexpr std::size_t kClass = 4;
    static constexpr std::size_t kSubClass = 5;
    static constexpr std::size_t kProtocol = 6;
    static constexpr std::size_t kMaxPacket0 = 7;
    static constexpr std::size_t kVendor = 8;          // u16
    static constexpr std::size_t kProduct = 10;        // u16
    static constexpr std::size_t kRelease = 12;        // u16 bcdDevice
    static constexpr std::size_t kManufacturerString = 14;
    static constexpr std::size_t kProductString = 15;
    static constexpr std::size_t kSerialString = 16;
    static constexpr std::size_t kConfigurations = 17;
    static constexpr std::size_t kSize = 18;
};

struct ConfigurationDescriptorField {
    static constexpr std::size_t kLength = 0;
    static constexpr std::size_t kType = 1;
    static constexpr std::size_t kTotalLength = 2;  // u16: this descriptor and all that follow it
    static constexpr std::size_t kInterfaces = 4;
    static constexpr std::size_t kValue = 5;
    static constexpr std::size_t kString = 6;
    static constexpr std::size_t kAttributes = 7;
    static constexpr std::size_t kMaxPower = 8;     // in units of 2 mA
    static constexpr std::size_t kSize = 9;
};

struct InterfaceDescriptorField {
    static constexpr std::size_t kLength = 0;
    static constexpr std::size_t kType = 1;
    static constexpr std::size_t kNumber = 2;
    static constexpr std::size_t kAlternateSetting = 3;
    static constexpr std::size_t kEndpoints = 4;
    static constexpr std::size_t kClass = 5;
    static constexpr std::size_t kSubClass = 6;
    static constexpr std::size_t kProtocol = 7;
    static constexpr std::size_t kString = 8;
    static constexpr std::size_t kSize = 9;
};

struct HidDescriptorField {
    static constexpr std::size_t kLength = 0;
    static constexpr std::size_t kType = 1;
    static constexpr std::size_t kHidRelease = 2;     // u16 bcdHID
    static constexpr std::size_t kCountry = 4;
    static constexpr std::size_t kDescriptors = 5;    // class descriptors that follow: 1, the report descriptor
    static constexpr std::size_t kReportType = 6;
    static constexpr std::size_t kReportLength = 7;   // u16
    static constexpr std::size_t kSize = 9;
};

struct EndpointDescriptorField {
    static constexpr std::size_t kLength = 0;
    static constexpr std::size_t kType = 1;
    static constexpr std::size_t kAddress = 2;     // number | 0x80 for IN
    static constexpr std::size_t kAttributes = 3;  // transfer type in bits 0-1
    static constexpr std::size_t kMaxPacket = 4;   // u16
    static constexpr std::size_t kInterval = 6;    // frames, at full speed
    static constexpr std::size_t kSize = 7;
};

// The setup packet of a control transfer, which asks for them (and for everything else a host
// asks on endpoint 0).
struct SetupField {
    static constexpr std::size_t kRequestType = 0;  // direction (bit 7), type (bits 5-6), recipient
    static constexpr std::size_t kRequest = 1;
    static constexpr std::size_t kValue = 2;        // u16
    static constexpr std::size_t kIndex = 4;        // u16
    static constexpr std::size_t kLength = 6;       // u16: bytes of the data stage
    static constexpr std::size_t kSize = 8;
};

// String descriptors: length, type, then UTF-16LE code units; string 0 lists the languages.
struct StringDescriptorField {
    static constexpr std::size_t kLength = 0;
    static constexpr std::size_t kType = 1;
    static constexpr std::size_t kText = 2;
    static constexpr std::size_t kLargestSize = 255;
};

// The shape every such device has here: interface 0 of configuration 1, an interrupt IN endpoint
// 0x81 and, when the device has output reports, an interrupt OUT endpoint 0x01, both polled
// every frame with packets of up to 64 bytes, as endpoint 0 takes them.
inline constexpr std::uint8_t kHidInterfaceNumber = 0;
inline constexpr std::uint8_t kConfigurationValue = 1;
inline constexpr std::uint8_t kInterruptInEndpoint = 0x81;
inline constexpr std::uint8_t kInterruptOutEndpoint = 0x01;
inline constexpr std::uint16_t kFullSpeedMaxPacket = 64;
inline constexpr std::uint8_t kIntervalFrames = 1;
inline constexpr std::uint16_t kLanguageEnglishUs = 0x0409;

struct UsbHidDevice {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t reportDescriptorLength = 0;
    bool hasInterruptOut = false;
    std::uint8_t manufacturerString = 0;  // string indices; 0: none
    std::uint8_t productString = 0;
};

std::vector<std::uint8_t> DeviceDescriptor(const UsbHidDevice& device);
// The configuration descriptor and, after it, the interface, HID and endpoint descriptors.
std::vector<std::uint8_t> ConfigurationDescriptorSet(const UsbHidDevice& device);
// The HID descriptor alone, as GET_DESCRIPTOR(HID) to the interface returns it.
std::vector<std::uint8_t> HidDescriptor(const UsbHidDevice& device);
// String 0: the languages (US English only).
std::vector<std::uint8_t> LanguagesDescriptor();
// A string of ASCII text, cut to what a descriptor holds.
std::vector<std::uint8_t> StringDescriptor(const std::string& text);

}  // namespace capture
