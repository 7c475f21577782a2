// The USB side of the seam on Windows: host controller and hub device objects, the hub
// driver's I/O control requests, global-heap blocks and the ANSI code page. Every request is
// overlapped and bounded by its time limit (platform/win32/overlapped.h).
#include "platform/usb.h"

#include <windows.h>
#include <winioctl.h>
#include <usbioctl.h>

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "platform/win32/overlapped.h"
#include "platform/win32/system_error.h"

namespace platform {

// The records are built by byte offset; these are the offsets of the system's own records.
static_assert(IOCTL_USB_GET_ROOT_HUB_NAME == kIoctlUsbGetRootHubName);
static_assert(IOCTL_USB_GET_NODE_INFORMATION == kIoctlUsbGetNodeInformation);
static_assert(IOCTL_USB_GET_NODE_CONNECTION_INFORMATION == kIoctlUsbGetNodeConnectionInformation);
static_assert(IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION == kIoctlUsbGetDescriptorFromNodeConnection);
static_assert(IOCTL_USB_GET_NODE_CONNECTION_NAME == kIoctlUsbGetNodeConnectionName);
static_assert(IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX == kIoctlUsbGetNodeConnectionInformationEx);

static_assert(sizeof(USB_ROOT_HUB_NAME) == usb_root_hub_name::kSize);
static_assert(offsetof(USB_ROOT_HUB_NAME, ActualLength) == usb_root_hub_name::kActualLength);
static_assert(offsetof(USB_ROOT_HUB_NAME, RootHubName) == usb_root_hub_name::kName);

static_assert(sizeof(USB_NODE_CONNECTION_NAME) == usb_node_connection_name::kSize);
static_assert(offsetof(USB_NODE_CONNECTION_NAME, ConnectionIndex) == usb_node_connection_name::kConnectionIndex);
static_assert(offsetof(USB_NODE_CONNECTION_NAME, ActualLength) == usb_node_connection_name::kActualLength);
static_assert(offsetof(USB_NODE_CONNECTION_NAME, NodeName) == usb_node_connection_name::kName);

static_assert(sizeof(USB_NODE_INFORMATION) == usb_node_information::kSize);
static_assert(offsetof(USB_NODE_INFORMATION, NodeType) == usb_node_information::kNodeType);
static_assert(offsetof(USB_NODE_INFORMATION, u.HubInformation.HubDescriptor) == usb_node_information::kHubDescriptor);
static_assert(offsetof(USB_NODE_INFORMATION, u.HubInformation.HubDescriptor.bNumberOfPorts) ==
              usb_node_information::kNumberOfPorts);
static_assert(offsetof(USB_NODE_INFORMATION, u.HubInformation.HubDescriptor.wHubCharacteristics) ==
              usb_node_information::kHubCharacteristics);
static_assert(offsetof(USB_NODE_INFORMATION, u.HubInformation.HubDescriptor.bRemoveAndPowerMask) ==
              usb_node_information::kRemoveAndPowerMask);
static_assert(offsetof(USB_NODE_INFORMATION, u.HubInformation.HubIsBusPowered) == usb_node_information::kHubIsBusPowered);
static_assert(UsbHub == usb_node_information::kUsbHub);

namespace ci = usb_connection_information;
static_assert(sizeof(USB_NODE_CONNECTION_INFORMATION_EX) == ci::kFixedSize);
static_assert(sizeof(USB_NODE_CONNECTION_INFORMATION) == ci::kFixedSize);
static_assert(sizeof(USB_PIPE_INFO) == ci::kPipeInfoSize);
static_assert(sizeof(USB_DEVICE_DESCRIPTOR) == ci::kDeviceDescriptorSize);
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX, ConnectionIndex) == ci::kConnectionIndex);
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX, DeviceDescriptor) == ci::kDeviceDescriptor);
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX, CurrentConfigurationValue) == ci::kCurrentConfigurationValue);
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX, Speed) == ci::kSpeed);
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX, DeviceIsHub) == ci::kDeviceIsHub);
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX, DeviceAddress) == ci::kDeviceAddress);
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX, NumberOfOpenPipes) == ci::kNumberOfOpenPipes);
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX, ConnectionStatus) == ci::kConnectionStatus);
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX, PipeList) == ci::kPipeList);
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION, LowSpeed) == ci::kLowSpeed);
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION, DeviceIsHub) == ci::kDeviceIsHub);
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION, ConnectionStatus) == ci::kConnectionStatus);
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION, PipeList) == ci::kPipeList);
static_assert(DeviceConnected == ci::kDeviceConnected);
static_assert(UsbLowSpeed == ci::kLowSpeedValue && UsbFullSpeed == ci::kFullSpeedValue &&
              UsbHighSpeed == ci::kHighSpeedValue);

namespace dr = usb_descriptor_request;
static_assert(sizeof(USB_DESCRIPTOR_REQUEST) == dr::kHeaderSize);
static_assert(offsetof(USB_DESCRIPTOR_REQUEST, ConnectionIndex) == dr::kConnectionIndex);
static_assert(offsetof(USB_DESCRIPTOR_REQUEST, SetupPacket.bmRequest) == dr::kRequestType);
static_assert(offsetof(USB_DESCRIPTOR_REQUEST, SetupPacket.bRequest) == dr::kRequest);
static_assert(offsetof(USB_DESCRIPTOR_REQUEST, SetupPacket.wValue) == dr::kValue);
static_assert(offsetof(USB_DESCRIPTOR_REQUEST, SetupPacket.wIndex) == dr::kIndex);
static_assert(offsetof(USB_DESCRIPTOR_REQUEST, SetupPacket.wLength) == dr::kLength);
static_assert(offsetof(USB_DESCRIPTOR_REQUEST, Data) == dr::kData);

static_assert(sizeof(wchar_t) == sizeof(char16_t));
static_assert(kUsbCancelGraceMs == kCancelGraceMs);

namespace {

std::string RequestText(std::uint32_t code)
{
    char text[32];
    std::snprintf(text, sizeof text, "request 0x%06lx", static_cast<unsigned long>(code));
    return text;
}

// Why a request failed: the system's error text, or how its time limit ended it.
Outcome RequestFailure(std::uint32_t code, const OverlappedResult& result, std::uint32_t timeLimitMs)
{
    const std::string limit = std::to_string(timeLimitMs) + " ms";
    if (result.abandoned) {
        return Failure(Status::TimedOut, RequestText(code),
                       "no answer within " + limit + ", and the cancellation did not end it within " +
                           std::to_string(kCancelGraceMs) + " ms: given up");
    }
    if (result.timedOut) {
        return Failure(Status::TimedOut, RequestText(code),
                       "no answer within " + limit + ": cancelled, " + SystemErrorText(result.error));
    }
    return Failure(Status::Failed, RequestText(code), SystemErrorText(result.error));
}

}  // namespace

Opened UsbOpenNode(const std::string& path)
{
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return {kInvalidHandle, Failure(Status::Failed, "open " + path, SystemErrorText(GetLastError()), path)};
    }
    return {reinterpret_cast<DeviceHandle>(handle), Done()};
}

// A buffered request: the system copies the input at the start and hands back the first
// bytesReturned bytes of its buffer, so the operation's own buffer serves as input and output.
Outcome UsbRequest(DeviceHandle handle, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                   std::uint32_t outSize, std::uint32_t& bytesReturned, std::uint32_t timeLimitMs)
{
    bytesReturned = 0;
    if ((in == nullptr && inSize != 0) || (out == nullptr && outSize != 0)) {
        return Failure(Status::Failed, RequestText(code), "a buffer is missing");
    }
    const OverlappedResult result = RunBoundedOverlapped(
        reinterpret_cast<HANDLE>(handle), timeLimitMs, static_cast<const std::uint8_t*>(in), inSize,
        inSize > outSize ? inSize : outSize,
        [&](HANDLE node, std::uint8_t* buffer, OVERLAPPED* overlapped) {
            return DeviceIoControl(node, code, inSize != 0 ? buffer : nullptr, inSize,
                                   outSize != 0 ? buffer : nullptr, outSize, nullptr, overlapped) != FALSE;
        },
        [&](const std::uint8_t* buffer, DWORD transferred) {
            bytesReturned = transferred < outSize ? transferred : outSize;
            if (bytesReturned != 0) std::memcpy(out, buffer, bytesReturned);
        });
    if (!result.done) return RequestFailure(code, result, timeLimitMs);
    return Done();
}

void UsbCloseNode(DeviceHandle handle)
{
    if (handle != kInvalidHandle) CloseHandle(reinterpret_cast<HANDLE>(handle));
}

std::uint32_t UsbTickCount()
{
    return GetTickCount();
}

std::uint8_t* GlobalBlockAlloc(std::size_t size)
{
    return static_cast<std::uint8_t*>(GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, size));
}

void GlobalBlockFree(void* block)
{
    if (block != nullptr) GlobalFree(block);
}

int WideToAnsiCodePage(const char16_t* text, char* out, int outSize)
{
    return WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<LPCWCH>(text), -1, out, outSize, nullptr, nullptr);
}

}  // namespace platform
