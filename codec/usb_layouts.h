// The USB vocabulary that the updater, its captures, its simulated world and its rigs share, each
// field declared once: the standard descriptors and their fields (USB 2.0, 9.6; HID 1.11, 6.2.1),
// the setup packet of a control request (USB 2.0, 9.3) and the standard and HID class requests
// the updater's devices see (USB 2.0, 9.4; HID 1.11, 7.2). Every descriptor starts with bLength and
// bDescriptorType, then its fields; 16-bit fields are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace usb {

// Descriptor types (bDescriptorType, and the high byte of GET_DESCRIPTOR's wValue).
inline constexpr std::uint8_t kDescriptorDevice = 0x01;
inline constexpr std::uint8_t kDescriptorConfiguration = 0x02;
inline constexpr std::uint8_t kDescriptorString = 0x03;
inline constexpr std::uint8_t kDescriptorInterface = 0x04;
inline constexpr std::uint8_t kDescriptorEndpoint = 0x05;
inline constexpr std::uint8_t kDescriptorHid = 0x21;
inline constexpr std::uint8_t kDescriptorReport = 0x22;

struct DescriptorField {
    static constexpr std::size_t kLength = 0;
    static constexpr std::size_t kType = 1;
};
struct DeviceDescriptorField {
    static constexpr std::size_t kUsbRelease = 2;  // u16 bcdUSB
    static constexpr std::size_t kClass = 4;
    static constexpr std::size_t kSubclass = 5;
    static constexpr std::size_t kProtocol = 6;
    static constexpr std::size_t kMaxPacket0 = 7;
    static constexpr std::size_t kVendorId = 8;    // u16
    static constexpr std::size_t kProductId = 10;  // u16
    static constexpr std::size_t kRelease = 12;    // u16
    static constexpr std::size_t kManufacturer = 14;  // string indices, 0: none
    static constexpr std::size_t kProduct = 15;
    static constexpr std::size_t kSerialNumber = 16;
    static constexpr std::size_t kConfigurations = 17;
    static constexpr std::size_t kSize = 18;
};
struct ConfigurationField {
    static constexpr std::size_t kTotalLength = 2;  // u16: this and every descriptor that follows it
    static constexpr std::size_t kInterfaces = 4;
    static constexpr std::size_t kValue = 5;
    static constexpr std::size_t kString = 6;
    static constexpr std::size_t kAttributes = 7;
    static constexpr std::size_t kMaxPower = 8;  // in units of 2 mA
    static constexpr std::size_t kSize = 9;
};
struct InterfaceField {
    static constexpr std::size_t kNumber = 2;
    static constexpr std::size_t kAlternate = 3;
    static constexpr std::size_t kEndpoints = 4;
    static constexpr std::size_t kClass = 5;
    static constexpr std::size_t kSubclass = 6;
    static constexpr std::size_t kProtocol = 7;
    static constexpr std::size_t kString = 8;
    static constexpr std::size_t kSize = 9;
};
struct EndpointField {
    static constexpr std::size_t kAddress = 2;
    static constexpr std::size_t kAttributes = 3;  // bits 0-1: transfer type (3 interrupt)
    static constexpr std::size_t kMaxPacket = 4;   // u16
    static constexpr std::size_t kInterval = 6;
    static constexpr std::size_t kSize = 7;
};
struct HidDescriptorField {
    static constexpr std::size_t kRelease = 2;       // u16 bcdHID
    static constexpr std::size_t kCountry = 4;
    static constexpr std::size_t kDescriptors = 5;   // class descriptors that follow
    static constexpr std::size_t kReportType = 6;    // the first: the report descriptor
    static constexpr std::size_t kReportLength = 7;  // u16
    static constexpr std::size_t kSize = 9;
};
// A string descriptor: bLength, bDescriptorType, UTF-16LE code units; string 0 lists the
// languages (u16 each).
inline constexpr std::size_t kStringHeader = 2;
inline constexpr std::size_t kLargestString = 255;
inline constexpr std::uint16_t kLanguageEnglishUs = 0x0409;
inline constexpr std::uint8_t kClassHid = 0x03;
inline constexpr std::uint8_t kSubclassBoot = 0x01;
inline constexpr std::uint8_t kProtocolKeyboard = 0x01;
inline constexpr std::uint8_t kProtocolMouse = 0x02;
inline constexpr std::uint8_t kEndpointTransferInterrupt = 0x03;  // bmAttributes bits 0-1

// Bit 7 of an endpoint address and of bmRequestType: the direction is device to host.
inline constexpr std::uint8_t kDirectionIn = 0x80;

// Setup packets: bmRequestType, bRequest, wValue (descriptor type or report type in the high
// byte, descriptor index or report id in the low byte), wIndex (language, interface or
// endpoint), wLength.
struct SetupField {
    static constexpr std::size_t kRequestType = 0;
    static constexpr std::size_t kRequest = 1;
    static constexpr std::size_t kValue = 2;      // u16
    static constexpr std::size_t kValueLow = 2;   // descriptor index, report id
    static constexpr std::size_t kValueHigh = 3;  // descriptor type, report type
    static constexpr std::size_t kIndex = 4;      // u16
    static constexpr std::size_t kLength = 6;     // u16
};
inline constexpr std::size_t kSetupLength = 8;
inline constexpr std::uint8_t kRequestTypeMask = 0x60;  // bits 5 and 6 of bmRequestType
inline constexpr std::uint8_t kRequestTypeStandard = 0x00;
inline constexpr std::uint8_t kRequestTypeClass = 0x20;
inline constexpr std::uint8_t kStandardDeviceIn = 0x80;
inline constexpr std::uint8_t kStandardInterfaceIn = 0x81;
inline constexpr std::uint8_t kClassInterfaceOut = 0x21;
inline constexpr std::uint8_t kClassInterfaceIn = 0xA1;
inline constexpr std::uint8_t kGetDescriptor = 0x06;
inline constexpr std::uint8_t kSetConfiguration = 0x09;
inline constexpr std::uint8_t kHidGetReport = 0x01;
inline constexpr std::uint8_t kHidSetReport = 0x09;
// HID report types (the high byte of GET_REPORT's and SET_REPORT's wValue).
inline constexpr std::uint8_t kReportInput = 1;
inline constexpr std::uint8_t kReportOutput = 2;

}  // namespace usb
