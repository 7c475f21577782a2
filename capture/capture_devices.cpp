#include "capture/capture_devices.h"

#include <algorithm>
#include <map>
#include <numeric>
#include <utility>

#include "capture/capture_format.h"
#include "codec/utf8_text.h"

namespace capture {
namespace {

constexpr std::int64_t kNanosPerSecond = 1000000000;
constexpr std::uint16_t kDefaultAddress = 0;  // a device's address while it is enumerated

std::uint16_t Little16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

// A device being assembled: its summary, and whether it has had traffic of its own beyond the
// standard requests of an enumeration.
struct Assembling {
    DeviceSummary summary;
    bool busy = false;
};

// The ids of a completed device-descriptor request, and the descriptor when it is whole.
bool DescribedIds(const UsbTransfer& t, std::uint16_t& vendorId, std::uint16_t& productId)
{
    if (t.address == kDefaultAddress || !IsDescriptorReply(t, usb::kStandardDeviceIn, usb::kDescriptorDevice)) return false;
    if (t.input.size() < usb::DeviceDescriptorField::kRelease) return false;
    vendorId = Little16(t.input.data() + usb::DeviceDescriptorField::kVendorId);
    productId = Little16(t.input.data() + usb::DeviceDescriptorField::kProductId);
    return true;
}

// Splits the transfers into devices: walks them in the order they began.
std::vector<std::size_t> AssignDevices(const std::vector<UsbTransfer>& transfers, const CaptureContents& contents,
                                       std::vector<Assembling>& devices)
{
    constexpr std::size_t kNoDevice = ~std::size_t{0};
    std::vector<std::size_t> deviceOf(transfers.size(), kNoDevice);
    std::vector<std::size_t> order(transfers.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return transfers[a].first->frame < transfers[b].first->frame;
    });
    std::map<std::pair<std::uint16_t, std::uint16_t>, std::size_t> current;  // bus, address -> device
    for (std::size_t index : order) {
        const UsbTransfer& t = transfers[index];
        if (t.address == kDefaultAddress) continue;
        const auto place = std::make_pair(t.bus, t.address);
        auto found = current.find(place);
        Assembling* device = found != current.end() ? &devices[found->second] : nullptr;
        std::uint16_t vendorId = 0;
        std::uint16_t productId = 0;
        const bool describes = DescribedIds(t, vendorId, productId);
        const bool sameDevice =
            device && !device->busy &&
            (!describes || !device->summary.described ||
             (device->summary.vendorId == vendorId && device->summary.productId == productId));
        if (!sameDevice && (describes || !device)) {
            devices.emplace_back();
            device = &devices.back();
            device->summary.bus = t.bus;
            device->summary.address = t.address;
            device->summary.first = FrameTimeOf(contents, *t.first);
            current[place] = devices.size() - 1;
        }
        if (describes) {
            device->summary.described = true;
            device->summary.vendorId = vendorId;
            device->summary.productId = productId;
        }
        if (!IsStandardRequest(t)) device->busy = true;
        deviceOf[index] = current[place];
    }
    return deviceOf;
}

// A configuration descriptor set: its interfaces and their endpoints. False, with the reason,
// when a descriptor in it is malformed.
bool ReadConfiguration(const std::vector<std::uint8_t>& set, std::vector<InterfaceSummary>& interfaces,
                       std::string& error)
{
    if (set[usb::DescriptorField::kLength] != usb::ConfigurationField::kSize) {
        error = "bLength " + std::to_string(set[usb::DescriptorField::kLength]) + ", a configuration descriptor has 9";
        return false;
    }
    const std::size_t total =
        std::min<std::size_t>(Little16(set.data() + usb::ConfigurationField::kTotalLength), set.size());
    for (std::size_t at = usb::ConfigurationField::kSize; at < total;) {
        const std::string where = "the descriptor at byte " + std::to_string(at);
        const std::size_t length = total - at >= 2 ? set[at + usb::DescriptorField::kLength] : 0;
        if (length < 2 || length > total - at) {
            error = where + " has bLength " + std::to_string(length) + " with " + std::to_string(total - at) +
                    " bytes left";
            return false;
        }
        const std::uint8_t* d = set.data() + at;
        if (d[usb::DescriptorField::kType] == usb::kDescriptorInterface) {
            if (length < usb::InterfaceField::kSize) {
                error = where + ": an interface descriptor of " + std::to_string(length) + " bytes, it has 9";
                return false;
            }
            InterfaceSummary interface;
            interface.number = d[usb::InterfaceField::kNumber];
            interface.alternate = d[usb::InterfaceField::kAlternate];
            interface.interfaceClass = d[usb::InterfaceField::kClass];
            interface.subclass = d[usb::InterfaceField::kSubclass];
            interface.protocol = d[usb::InterfaceField::kProtocol];
            interfaces.push_back(interface);
        } else if (d[usb::DescriptorField::kType] == usb::kDescriptorEndpoint) {
            if (length < usb::EndpointField::kSize || interfaces.empty()) {
                error = where + ": an endpoint descriptor of " + std::to_string(length) + " bytes" +
                        (interfaces.empty() ? " before any interface" : ", it has 7");
                return false;
            }
            interfaces.back().endpoints.push_back(d[usb::EndpointField::kAddress]);
        }
        at += length;
    }
    return true;
}

// The text of a string descriptor (UTF-16LE after its two header bytes).
std::string StringOf(const std::vector<std::uint8_t>& reply)
{
    if (reply.size() < usb::kStringHeader || reply[usb::DescriptorField::kType] != usb::kDescriptorString) return "";
    const std::size_t length = std::min<std::size_t>(reply[usb::DescriptorField::kLength], reply.size());
    std::u16string units;
    for (std::size_t at = usb::kStringHeader; at + 1 < length; at += 2) {
        units.push_back(static_cast<char16_t>(Little16(reply.data() + at)));
    }
    return codec::Utf16ToUtf8(units.data(), units.size());
}

// What the device's own transfers say of it: descriptors, strings, report descriptors, tallies.
void Describe(DeviceSummary& device, const std::vector<UsbTransfer>& transfers, const std::vector<std::size_t>& own)
{
    std::vector<std::uint8_t> deviceDescriptor;
    std::map<std::uint8_t, std::string> strings;
    std::map<std::uint16_t, const UsbTransfer*> reportDescriptors;  // by interface
    std::map<std::pair<std::uint8_t, std::uint8_t>, EndpointTally> tallies;
    for (std::size_t index : own) {
        const UsbTransfer& t = transfers[index];
        EndpointTally& tally = tallies[{t.endpoint, t.type}];
        tally.endpoint = t.endpoint;
        tally.type = t.type;
        ++tally.transfers;
        if (t.outcome != UsbOutcome::Ok) ++tally.failed;
        if (IsDescriptorReply(t, usb::kStandardDeviceIn, usb::kDescriptorDevice)) {
            if (deviceDescriptor.empty()) deviceDescriptor = t.input;
        } else if (IsDescriptorReply(t, usb::kStandardDeviceIn, usb::kDescriptorConfiguration)) {
            // The whole set only (the hub driver reads the first 9 bytes on their own first).
            const bool whole = t.input.size() >= usb::ConfigurationField::kSize &&
                               t.input.size() >= Little16(t.input.data() + usb::ConfigurationField::kTotalLength);
            if (whole && !device.configured) {
                device.configured = ReadConfiguration(t.input, device.interfaces, device.configurationError);
                if (!device.configured) device.interfaces.clear();
            }
        } else if (IsDescriptorReply(t, usb::kStandardDeviceIn, usb::kDescriptorString) && ValueLow(t) != 0) {
            strings.emplace(ValueLow(t), StringOf(t.input));
        } else if (IsDescriptorReply(t, usb::kStandardInterfaceIn, usb::kDescriptorReport)) {
            reportDescriptors.emplace(Index(t), &t);
        }
    }
    if (deviceDescriptor.size() >= usb::DeviceDescriptorField::kSize) {
        auto text = [&](std::size_t field) {
            auto found = strings.find(deviceDescriptor[field]);
            return deviceDescriptor[field] != 0 && found != strings.end() ? found->second : std::string();
        };
        device.manufacturer = text(usb::DeviceDescriptorField::kManufacturer);
        device.product = text(usb::DeviceDescriptorField::kProduct);
        device.serialNumber = text(usb::DeviceDescriptorField::kSerialNumber);
    }
    for (InterfaceSummary& interface : device.interfaces) {
        auto found = reportDescriptors.find(interface.number);
        if (interface.interfaceClass != usb::kClassHid || found == reportDescriptors.end()) continue;
        const std::vector<std::uint8_t>& bytes = found->second->input;
        interface.reportDescriptorSeen = true;
        codec::ParseReportDescriptor(bytes.data(), bytes.size(), interface.collections,
                                     interface.reportDescriptorError);
    }
    for (auto& entry : tallies) device.endpoints.push_back(entry.second);
}

}  // namespace

FrameTime FrameTimeOf(const CaptureContents& contents, const UsbPacket& packet)
{
    // Differences of hostile time stamps wrap instead of overflowing.
    FrameTime time;
    time.frame = packet.frame;
    std::uint64_t seconds =
        static_cast<std::uint64_t>(packet.seconds) - static_cast<std::uint64_t>(contents.firstSeconds);
    std::int64_t nanos = std::int64_t{packet.nanoseconds} - std::int64_t{contents.firstNanoseconds};
    if (nanos < 0) {
        nanos += kNanosPerSecond;
        --seconds;
    }
    time.negative = static_cast<std::int64_t>(seconds) < 0;
    if (time.negative && nanos != 0) {
        seconds = ~seconds;  // -(seconds + 1)
        nanos = kNanosPerSecond - nanos;
    } else if (time.negative) {
        seconds = ~seconds + 1;
    }
    time.seconds = seconds;
    time.microseconds = static_cast<std::uint32_t>(nanos / 1000);
    return time;
}

CaptureDevices FindDevices(const CaptureContents& contents)
{
    CaptureDevices found;
    found.summary.format = contents.format;
    found.summary.frames = contents.frames;
    found.summary.usbLinkTypes = contents.usbLinkTypes;
    found.summary.otherLinkTypes = contents.otherLinkTypes;
    found.transfers = PairTransfers(contents);
    std::vector<Assembling> devices;
    const std::vector<std::size_t> deviceOf = AssignDevices(found.transfers, contents, devices);
    found.transfersOf.resize(devices.size());
    for (std::size_t i = 0; i < deviceOf.size(); ++i) {
        if (deviceOf[i] < devices.size()) found.transfersOf[deviceOf[i]].push_back(i);
    }
    for (std::size_t d = 0; d < devices.size(); ++d) {
        Describe(devices[d].summary, found.transfers, found.transfersOf[d]);
        found.summary.devices.push_back(std::move(devices[d].summary));
    }
    return found;
}

}  // namespace capture
