#include "capture/capture_transfers.h"

#include <algorithm>
#include <map>
#include <utility>

#include "capture/capture_format.h"

namespace capture {
namespace {

constexpr std::uint8_t kEndpointNumber = 0x0F;

UsbTransfer StartTransfer(const UsbPacket& packet)
{
    UsbTransfer t;
    t.bus = packet.bus;
    t.address = packet.address;
    t.type = packet.transferType;
    t.endpoint = packet.transferType == kTransferControl ? static_cast<std::uint8_t>(packet.endpoint & kEndpointNumber)
                                                         : packet.endpoint;
    t.hasSetup = packet.hasSetup;
    t.setup = packet.setup;
    t.in = packet.hasSetup ? (packet.setup[usb::SetupField::kRequestType] & usb::kDirectionIn) != 0
                           : (packet.endpoint & usb::kDirectionIn) != 0;
    t.first = &packet;
    if (!t.in) {
        t.out = packet.data;
        t.truncated = packet.truncated;
    }
    return t;
}

// What ends a transfer: its outcome, and the data from the device.
void End(UsbTransfer& t, const UsbPacket& packet)
{
    t.outcome = packet.outcome;
    t.last = &packet;
    if (t.in && packet.event == UsbEvent::Complete) {
        t.input = packet.data;
        t.truncated |= packet.truncated;
    }
}

std::uint16_t Little16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

}  // namespace

std::vector<UsbTransfer> PairTransfers(const CaptureContents& contents)
{
    std::vector<UsbTransfer> ended;
    // By bus and URB tag (or IRP id): a tag is unique among the URBs in flight on a bus.
    std::map<std::pair<std::uint16_t, std::uint64_t>, UsbTransfer> pending;
    std::vector<UsbTransfer> abandoned;
    for (const UsbPacket& packet : contents.packets) {
        const auto key = std::make_pair(packet.bus, packet.id);
        auto found = pending.find(key);
        switch (packet.event) {
        case UsbEvent::Submit:
            if (found != pending.end()) {
                abandoned.push_back(std::move(found->second));
                pending.erase(found);
            }
            pending.emplace(key, StartTransfer(packet));
            break;
        case UsbEvent::SubmitData:
            if (found != pending.end() && !found->second.in) {
                found->second.out.insert(found->second.out.end(), packet.data.begin(), packet.data.end());
                found->second.truncated |= packet.truncated;
            }
            break;
        case UsbEvent::Complete:
        case UsbEvent::SubmitError: {
            // usbmon writes a submission that the host controller refused as 'S' then 'E'.
            UsbTransfer t = found != pending.end() ? std::move(found->second) : StartTransfer(packet);
            if (found != pending.end()) pending.erase(found);
            End(t, packet);
            ended.push_back(std::move(t));
            break;
        }
        }
    }
    for (auto& entry : pending) abandoned.push_back(std::move(entry.second));
    std::sort(abandoned.begin(), abandoned.end(),
              [](const UsbTransfer& a, const UsbTransfer& b) { return a.first->frame < b.first->frame; });
    for (UsbTransfer& t : abandoned) ended.push_back(std::move(t));
    return ended;
}

std::uint8_t RequestType(const UsbTransfer& t) { return t.setup[usb::SetupField::kRequestType]; }
std::uint8_t Request(const UsbTransfer& t) { return t.setup[usb::SetupField::kRequest]; }
std::uint8_t ValueLow(const UsbTransfer& t) { return t.setup[usb::SetupField::kValueLow]; }
std::uint8_t ValueHigh(const UsbTransfer& t) { return t.setup[usb::SetupField::kValueHigh]; }
std::uint16_t Index(const UsbTransfer& t) { return Little16(t.setup.data() + usb::SetupField::kIndex); }
std::uint16_t Length(const UsbTransfer& t) { return Little16(t.setup.data() + usb::SetupField::kLength); }

bool IsDescriptorReply(const UsbTransfer& t, std::uint8_t requestType, std::uint8_t descriptorType)
{
    return t.type == kTransferControl && t.hasSetup && t.outcome == UsbOutcome::Ok && RequestType(t) == requestType &&
           Request(t) == usb::kGetDescriptor && ValueHigh(t) == descriptorType;
}

bool IsStandardRequest(const UsbTransfer& t)
{
    return t.type == kTransferControl && t.hasSetup && (RequestType(t) & usb::kRequestTypeMask) == usb::kRequestTypeStandard;
}

}  // namespace capture
