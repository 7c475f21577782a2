// The standard descriptors of a full-speed USB device with one configuration of HID interfaces, as
// GET_DESCRIPTOR returns them: the device descriptor, and the configuration descriptor followed by
// each interface's interface, HID and endpoint descriptors, in USB's vocabulary
// (codec/usb_layouts.h). The capture writer puts them in a capture's enumeration, the Linux rig's
// virtual USB controllers (tests/linux/usb/) declare themselves with them, so both show the same
// device, and the simulated USB tree's HID devices answer the topology walk with them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace usb {

// The shape every such device has here: configuration 1; the interface at position i has number i,
// an interrupt IN endpoint 0x81 + i and, when it has output reports, an interrupt OUT endpoint
// 0x01 + i, both polled every frame (or as the interface says) with packets of up to 64 bytes, as
// endpoint 0 takes them.
inline constexpr std::uint8_t kConfigurationValue = 1;
inline constexpr std::uint16_t kFullSpeedMaxPacket = 64;
inline constexpr std::uint8_t kIntervalFrames = 1;
inline constexpr std::size_t kMaxHidInterfaces = 15;  // endpoint numbers 1 to 15

constexpr std::uint8_t InterruptInEndpoint(std::size_t position) { return static_cast<std::uint8_t>(0x81 + position); }
constexpr std::uint8_t InterruptOutEndpoint(std::size_t position) { return static_cast<std::uint8_t>(0x01 + position); }

struct UsbHidInterface {
    std::uint16_t reportDescriptorLength = 0;
    bool hasInterruptOut = false;
    std::uint8_t bootProtocol = 0;  // a boot keyboard or mouse (kProtocolKeyboard, kProtocolMouse); 0: neither
    std::uint8_t intervalFrames = kIntervalFrames;  // the endpoints' polling interval
};

struct UsbHidDevice {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::vector<UsbHidInterface> interfaces;  // 1 to kMaxHidInterfaces
    std::uint8_t manufacturerString = 0;       // string indices; 0: none
    std::uint8_t productString = 0;
};

std::vector<std::uint8_t> DeviceDescriptor(const UsbHidDevice& device);
// The configuration descriptor and, after it, each interface's interface, HID and endpoint
// descriptors.
std::vector<std::uint8_t> ConfigurationDescriptorSet(const UsbHidDevice& device);
// The interface's interface, HID and endpoint descriptors, as they follow the configuration
// descriptor when the interface is at this position.
std::vector<std::uint8_t> InterfaceDescriptors(const UsbHidInterface& usbInterface, std::size_t position);
// The HID descriptor alone, as GET_DESCRIPTOR(HID) to the interface returns it.
std::vector<std::uint8_t> HidDescriptor(const UsbHidInterface& usbInterface);
// String 0: the languages (US English only).
std::vector<std::uint8_t> LanguagesDescriptor();
// A string of ASCII text, cut to what a descriptor holds.
std::vector<std::uint8_t> StringDescriptor(const std::string& text);

}  // namespace usb
