// USB host controllers and hubs: their device objects, the hub driver's I/O control requests,
// the zero-filled global-heap blocks that hold the replies, and the conversion of the UTF-16
// names and strings that the drivers and devices report.
//
// The request records are the hub driver's published records, byte-packed and little-endian.
// They are described here as byte offsets so that the same code builds them on every platform;
// the Windows backend checks every offset against the system's own usbioctl.h records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "codec/usb_layouts.h"
#include "platform/outcome.h"
#include "platform/types.h"

namespace platform {

// I/O control codes (METHOD_BUFFERED, FILE_ANY_ACCESS, device type 0x22). The root-hub-name
// request goes to a host controller, the others to a hub; the first two share their code.
inline constexpr std::uint32_t kIoctlUsbGetRootHubName = 0x220408;
inline constexpr std::uint32_t kIoctlUsbGetNodeInformation = 0x220408;
inline constexpr std::uint32_t kIoctlUsbGetNodeConnectionInformation = 0x22040C;
inline constexpr std::uint32_t kIoctlUsbGetDescriptorFromNodeConnection = 0x220410;
inline constexpr std::uint32_t kIoctlUsbGetNodeConnectionName = 0x220414;
inline constexpr std::uint32_t kIoctlUsbGetNodeConnectionInformationEx = 0x220448;

// USB_ROOT_HUB_NAME: ActualLength, then the NUL-terminated UTF-16 name.
namespace usb_root_hub_name {
inline constexpr std::size_t kActualLength = 0;
inline constexpr std::size_t kName = 4;
inline constexpr std::size_t kSize = 6;  // the record with room for one name character
}  // namespace usb_root_hub_name

// USB_NODE_CONNECTION_NAME: ConnectionIndex, ActualLength, then the UTF-16 name of the hub on
// that port.
namespace usb_node_connection_name {
inline constexpr std::size_t kConnectionIndex = 0;
inline constexpr std::size_t kActualLength = 4;
inline constexpr std::size_t kName = 8;
inline constexpr std::size_t kSize = 10;
}  // namespace usb_node_connection_name

// USB_NODE_INFORMATION: NodeType, then USB_HUB_INFORMATION (the hub descriptor with its
// 64-byte power mask, then HubIsBusPowered).
namespace usb_node_information {
inline constexpr std::size_t kNodeType = 0;
inline constexpr std::size_t kHubDescriptor = 4;
inline constexpr std::size_t kDescriptorLength = 4;
inline constexpr std::size_t kDescriptorType = 5;
inline constexpr std::size_t kNumberOfPorts = 6;
inline constexpr std::size_t kHubCharacteristics = 7;
inline constexpr std::size_t kPowerOnToPowerGood = 9;
inline constexpr std::size_t kHubControlCurrent = 10;
inline constexpr std::size_t kRemoveAndPowerMask = 11;
inline constexpr std::size_t kHubIsBusPowered = 75;
inline constexpr std::size_t kSize = 76;
inline constexpr std::uint32_t kUsbHub = 0;  // NodeType of a hub
}  // namespace usb_node_information

// USB_NODE_CONNECTION_INFORMATION_EX and its older form USB_NODE_CONNECTION_INFORMATION,
// which differ only in byte 23 (Speed, or LowSpeed in the older form).
namespace usb_connection_information {
inline constexpr std::size_t kConnectionIndex = 0;
inline constexpr std::size_t kDeviceDescriptor = 4;
inline constexpr std::size_t kDeviceDescriptorSize = 18;
inline constexpr std::size_t kCurrentConfigurationValue = 22;
inline constexpr std::size_t kSpeed = 23;     // newer form: 0 low, 1 full, 2 high, 3 super
inline constexpr std::size_t kLowSpeed = 23;  // older form: nonzero for a low-speed device
inline constexpr std::size_t kDeviceIsHub = 24;
inline constexpr std::size_t kDeviceAddress = 25;
inline constexpr std::size_t kNumberOfOpenPipes = 27;
inline constexpr std::size_t kConnectionStatus = 31;
inline constexpr std::size_t kPipeList = 35;
inline constexpr std::size_t kFixedSize = 35;
inline constexpr std::size_t kPipeInfoSize = 11;  // endpoint descriptor (7) and ScheduleOffset
inline constexpr std::size_t kPipeRoom = 30;
inline constexpr std::size_t kSize = kFixedSize + kPipeRoom * kPipeInfoSize;  // 365
inline constexpr std::uint32_t kDeviceConnected = 1;
inline constexpr std::uint8_t kLowSpeedValue = 0;
inline constexpr std::uint8_t kFullSpeedValue = 1;
inline constexpr std::uint8_t kHighSpeedValue = 2;
}  // namespace usb_connection_information

// USB_DESCRIPTOR_REQUEST: ConnectionIndex, the setup packet (codec/usb_layouts.h), then the
// descriptor bytes.
namespace usb_descriptor_request {
inline constexpr std::size_t kConnectionIndex = 0;
inline constexpr std::size_t kSetupPacket = 4;
inline constexpr std::size_t kRequestType = kSetupPacket + usb::SetupField::kRequestType;
inline constexpr std::size_t kRequest = kSetupPacket + usb::SetupField::kRequest;
inline constexpr std::size_t kValue = kSetupPacket + usb::SetupField::kValue;
inline constexpr std::size_t kIndex = kSetupPacket + usb::SetupField::kIndex;
inline constexpr std::size_t kLength = kSetupPacket + usb::SetupField::kLength;
inline constexpr std::size_t kData = kSetupPacket + usb::kSetupLength;
inline constexpr std::size_t kHeaderSize = kData;
}  // namespace usb_descriptor_request

// Opens a host controller or hub by its path ("\\.\HCD0", "\\.\USB#ROOT_HUB...") for writing,
// sharing writes, as an existing object, for requests bounded in time. kInvalidHandle, and why,
// when it fails.
Opened UsbOpenNode(const std::string& path);

// How long a request that ran out of time may take beyond its limit: it is cancelled, and one
// whose driver does not let go of it after this grace time is given up.
inline constexpr std::uint32_t kUsbCancelGraceMs = 1000;

// One I/O control request, waited for at most timeLimitMs (and kUsbCancelGraceMs more when its
// cancellation does not end it at once). The request reads inSize bytes from
// in and writes at most outSize bytes to out (in and out may be the same block); bytesReturned
// receives how many it wrote. False when the driver refused the request or did not answer in
// time (TimedOut), with why. A request works on memory of its own, which one that is given up
// keeps (on Windows, platform/win32/overlapped.h): nothing refers to in or out once this has
// returned.
Outcome UsbRequest(DeviceHandle handle, std::uint32_t code, const void* in, std::uint32_t inSize,
                   void* out, std::uint32_t outSize, std::uint32_t& bytesReturned,
                   std::uint32_t timeLimitMs);

void UsbCloseNode(DeviceHandle handle);

// Milliseconds on the clock that the requests' time limits run on, wrapping at 2^32: the
// system's tick count; in the simulated world the simulated tree's own time.
std::uint32_t UsbTickCount();

// A zero-filled block from the global heap (null when it can't be had), and its release.
std::uint8_t* GlobalBlockAlloc(std::size_t size);
void GlobalBlockFree(void* block);

// The ANSI code page form of a NUL-terminated UTF-16 text, with its terminating NUL, written to
// out (outSize bytes). With outSize 0 nothing is written and the result is the size needed.
// Returns the number of bytes written (the NUL included), 0 on failure.
int WideToAnsiCodePage(const char16_t* text, char* out, int outSize);

}  // namespace platform
