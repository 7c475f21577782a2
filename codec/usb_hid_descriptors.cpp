#include "codec/usb_hid_descriptors.h"

#include <algorithm>

#include "codec/usb_layouts.h"

namespace usb {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kUsb20 = 0x0200;
constexpr std::uint16_t kHid111 = 0x0111;
constexpr std::uint16_t kDeviceRelease = 0x0100;
constexpr std::uint8_t kClassPerInterface = 0;
constexpr std::uint8_t kBusPowered = 0x80;
constexpr std::uint8_t kMaxPower100mA = 50;

void Set16(Bytes& bytes, std::size_t at, std::uint16_t value)
{
    bytes[at] = static_cast<std::uint8_t>(value);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

// A descriptor of size bytes whose first two bytes are its length and type.
Bytes Descriptor(std::size_t size, std::uint8_t type)
{
    Bytes d(size, 0);
    d[DescriptorField::kLength] = static_cast<std::uint8_t>(size);
    d[DescriptorField::kType] = type;
    return d;
}

Bytes Endpoint(std::uint8_t address, std::uint8_t intervalFrames)
{
    using F = EndpointField;
    Bytes d = Descriptor(F::kSize, kDescriptorEndpoint);
    d[F::kAddress] = address;
    d[F::kAttributes] = kEndpointTransferInterrupt;
    Set16(d, F::kMaxPacket, kFullSpeedMaxPacket);
    d[F::kInterval] = intervalFrames;
    return d;
}

Bytes Interface(const UsbHidInterface& usbInterface, std::size_t position)
{
    using F = InterfaceField;
    Bytes d = Descriptor(F::kSize, kDescriptorInterface);
    d[F::kNumber] = static_cast<std::uint8_t>(position);
    d[F::kEndpoints] = usbInterface.hasInterruptOut ? 2 : 1;
    d[F::kClass] = kClassHid;
    d[F::kSubclass] = usbInterface.bootProtocol != 0 ? kSubclassBoot : 0;
    d[F::kProtocol] = usbInterface.bootProtocol;
    return d;
}

void Append(Bytes& to, const Bytes& from) { to.insert(to.end(), from.begin(), from.end()); }

}  // namespace

Bytes DeviceDescriptor(const UsbHidDevice& device)
{
    using F = DeviceDescriptorField;
    Bytes d = Descriptor(F::kSize, kDescriptorDevice);
    Set16(d, F::kUsbRelease, kUsb20);
    d[F::kClass] = kClassPerInterface;
    d[F::kMaxPacket0] = static_cast<std::uint8_t>(kFullSpeedMaxPacket);
    Set16(d, F::kVendorId, device.vendorId);
    Set16(d, F::kProductId, device.productId);
    Set16(d, F::kRelease, kDeviceRelease);
    d[F::kManufacturer] = device.manufacturerString;
    d[F::kProduct] = device.productString;
    d[F::kConfigurations] = 1;
    return d;
}

Bytes HidDescriptor(const UsbHidInterface& usbInterface)
{
    using F = HidDescriptorField;
    Bytes d = Descriptor(F::kSize, kDescriptorHid);
    Set16(d, F::kRelease, kHid111);
    d[F::kDescriptors] = 1;
    d[F::kReportType] = kDescriptorReport;
    Set16(d, F::kReportLength, usbInterface.reportDescriptorLength);
    return d;
}

Bytes InterfaceDescriptors(const UsbHidInterface& usbInterface, std::size_t position)
{
    Bytes descriptors = Interface(usbInterface, position);
    Append(descriptors, HidDescriptor(usbInterface));
    Append(descriptors, Endpoint(InterruptInEndpoint(position), usbInterface.intervalFrames));
    if (usbInterface.hasInterruptOut) Append(descriptors, Endpoint(InterruptOutEndpoint(position), usbInterface.intervalFrames));
    return descriptors;
}

Bytes ConfigurationDescriptorSet(const UsbHidDevice& device)
{
    using F = ConfigurationField;
    Bytes set = Descriptor(F::kSize, kDescriptorConfiguration);
    set[F::kInterfaces] = static_cast<std::uint8_t>(device.interfaces.size());
    set[F::kValue] = kConfigurationValue;
    set[F::kAttributes] = kBusPowered;
    set[F::kMaxPower] = kMaxPower100mA;
    for (std::size_t i = 0; i < device.interfaces.size(); ++i) Append(set, InterfaceDescriptors(device.interfaces[i], i));
    Set16(set, F::kTotalLength, static_cast<std::uint16_t>(set.size()));
    return set;
}

Bytes LanguagesDescriptor()
{
    Bytes d = Descriptor(kStringHeader + 2, kDescriptorString);
    Set16(d, kStringHeader, kLanguageEnglishUs);
    return d;
}

Bytes StringDescriptor(const std::string& text)
{
    const std::size_t units = std::min(text.size(), (kLargestString - kStringHeader) / 2);
    Bytes d = Descriptor(kStringHeader + 2 * units, kDescriptorString);
    for (std::size_t i = 0; i < units; ++i) Set16(d, kStringHeader + 2 * i, static_cast<std::uint8_t>(text[i]));
    return d;
}

}  // namespace usb
