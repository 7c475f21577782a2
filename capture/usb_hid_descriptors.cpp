#include "capture/usb_hid_descriptors.h"

#include <algorithm>

#include "capture/capture_format.h"

namespace capture {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kUsb20 = 0x0200;
constexpr std::uint16_t kHid111 = 0x0111;
constexpr std::uint16_t kDeviceRelease = 0x0100;
constexpr std::uint8_t kClassPerInterface = 0;
constexpr std::uint8_t kClassHid = 0x03;
constexpr std::uint8_t kNoBootSubClass = 0;
constexpr std::uint8_t kBusPowered = 0x80;
constexpr std::uint8_t kMaxPower100mA = 50;
constexpr std::uint8_t kInterruptTransfer = 0x03;
constexpr std::uint8_t kDescriptorString = 0x03;

void Set16(Bytes& bytes, std::size_t at, std::uint16_t value)
{
    bytes[at] = static_cast<std::uint8_t>(value);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

// A descriptor of size bytes whose first two bytes are its length and type.
Bytes Descriptor(std::size_t size, std::uint8_t type)
{
    Bytes d(size, 0);
    d[0] = static_cast<std::uint8_t>(size);
    d[1] = type;
    return d;
}

Bytes Endpoint(std::uint8_t address)
{
    using F = EndpointDescriptorField;
    Bytes d = Descriptor(F::kSize, kDescriptorEndpoint);
    d[F::kAddress] = address;
    d[F::kAttributes] = kInterruptTransfer;
    Set16(d, F::kMaxPacket, kFullSpeedMaxPacket);
    d[F::kInterval] = kIntervalFrames;
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
    Set16(d, F::kVendor, device.vendorId);
    Set16(d, F::kProduct, device.productId);
    Set16(d, F::kRelease, kDeviceRelease);
    d[F::kManufacturerString] = device.manufacturerString;
    d[F::kProductString] = device.productString;
    d[F::kConfigurations] = 1;
    return d;
}

Bytes HidDescriptor(const UsbHidDevice& device)
{
    using F = HidDescriptorField;
    Bytes d = Descriptor(F::kSize, kDescriptorHid);
    Set16(d, F::kHidRelease, kHid111);
    d[F::kDescriptors] = 1;
    d[F::kReportType] = kDescriptorReport;
    Set16(d, F::kReportLength, device.reportDescriptorLength);
    return d;
}

Bytes ConfigurationDescriptorSet(const UsbHidDevice& device)
{
    using C = ConfigurationDescriptorField;
    using I = InterfaceDescriptorField;
    Bytes set = Descriptor(C::kSize, kDescriptorConfiguration);
    set[C::kInterfaces] = 1;
    set[C::kValue] = kConfigurationValue;
    set[C::kAttributes] = kBusPowered;
    set[C::kMaxPower] = kMaxPower100mA;

    Bytes interface = Descriptor(I::kSize, kDescriptorInterface);
    interface[I::kNumber] = kHidInterfaceNumber;
    interface[I::kEndpoints] = device.hasInterruptOut ? 2 : 1;
    interface[I::kClass] = kClassHid;
    interface[I::kSubClass] = kNoBootSubClass;
    Append(set, interface);
    Append(set, HidDescriptor(device));
    Append(set, Endpoint(kInterruptInEndpoint));
    if (device.hasInterruptOut) Append(set, Endpoint(kInterruptOutEndpoint));
    Set16(set, C::kTotalLength, static_cast<std::uint16_t>(set.size()));
    return set;
}

Bytes LanguagesDescriptor()
{
    Bytes d = Descriptor(StringDescriptorField::kText + 2, kDescriptorString);
    Set16(d, StringDescriptorField::kText, kLanguageEnglishUs);
    return d;
}

Bytes StringDescriptor(const std::string& text)
{
    using F = StringDescriptorField;
    const std::size_t units = std::min(text.size(), (F::kLargestSize - F::kText) / 2);
    Bytes d = Descriptor(F::kText + 2 * units, kDescriptorString);
    for (std::size_t i = 0; i < units; ++i) Set16(d, F::kText + 2 * i, static_cast<std::uint8_t>(text[i]));
    return d;
}

}  // namespace capture
