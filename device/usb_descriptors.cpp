#include "device/usb_descriptors.h"

#include <cstring>

#include "codec/usb_layouts.h"
#include "platform/usb.h"

bool DeviceDescriptorNamesString(const std::uint8_t* deviceDescriptor)
{
    return deviceDescriptor[usb::DeviceDescriptorField::kManufacturer] != 0 ||
           deviceDescriptor[usb::DeviceDescriptorField::kProduct] != 0 ||
           deviceDescriptor[usb::DeviceDescriptorField::kSerialNumber] != 0;
}

bool ConfigurationNamesString(const std::uint8_t* set, std::size_t length)
{
    std::size_t position = 0;
    // Every step moves on by at least one byte, so the loop ends within length steps.
    while (length - position >= 3) {
        const std::size_t descriptorLength = set[position];
        if (descriptorLength == 0 || descriptorLength > length - position) return false;
        const std::uint8_t type = set[position + 1];
        if (type == usb::kDescriptorConfiguration) {
            if (descriptorLength != 9) return false;
            if (set[position + usb::ConfigurationField::kString] != 0) return true;
        } else if (type == usb::kDescriptorInterface) {
            if (descriptorLength != 9 && descriptorLength != 12) return false;
            if (set[position + usb::InterfaceField::kString] != 0) return true;
        }
        position += descriptorLength;
    }
    return false;
}

int AcceptStringReply(const std::uint8_t* reply, std::size_t replySize, std::uint32_t bytesReturned)
{
    using namespace platform::usb_descriptor_request;
    if (bytesReturned > replySize || bytesReturned < kHeaderSize + 2) return -1;
    const std::uint8_t* descriptor = reply + kData;
    const std::uint32_t dataReturned = bytesReturned - static_cast<std::uint32_t>(kHeaderSize);
    const std::uint8_t descriptorLength = descriptor[0];
    if (descriptor[1] != usb::kDescriptorString) return -1;
    if (descriptorLength != dataReturned || (descriptorLength % 2) != 0) return -1;
    return (descriptorLength - 2) / 2;
}

bool IdentificationTextMatches(char* text)
{
    for (char* c = text; *c != '\0'; ++c) {
        if (*c >= 'A' && *c <= 'Z') *c = static_cast<char>(*c - 'A' + 'a');
    }
    return std::strstr(text, "rq4180") != nullptr || std::strstr(text, "drim updata2") != nullptr;
}
