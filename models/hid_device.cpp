#include "models/hid_device.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace models {

HidDevice::HidDevice(std::uint16_t vendorId, std::uint16_t productId, std::vector<HidCollection> collections)
    : vendorId(vendorId), productId(productId), collections(std::move(collections))
{
}

HidDevice::~HidDevice() = default;

bool HidDevice::OnWrite(const std::uint8_t*, std::size_t) { return true; }
bool HidDevice::OnRead(std::uint8_t*, std::size_t) { return false; }
bool HidDevice::OnSetOutputReport(const std::uint8_t*, std::size_t) { return true; }
bool HidDevice::OnGetInputReport(std::uint8_t*, std::size_t) { return false; }

std::vector<std::uint8_t> HidDevice::Recover(const std::uint8_t* report, std::size_t length) const
{
    return std::vector<std::uint8_t>(report, report + length);
}

bool HidDevice::Refuse(const std::string& error)
{
    protocolErrors.push_back(error);
    return false;
}

std::vector<std::uint8_t> HidDevice::Flash() const { return {}; }
bool HidDevice::DownloadComplete() const { return false; }
bool HidDevice::SetOption(const std::string&, std::uint32_t) { return false; }

std::string HidDevice::PathOf(std::size_t collection) const
{
    char ids[64];
    if (collections.size() > 1) {
        std::snprintf(ids, sizeof ids, "vid_%04x&pid_%04x&col%02zu", vendorId, productId, collection + 1);
    } else {
        std::snprintf(ids, sizeof ids, "vid_%04x&pid_%04x", vendorId, productId);
    }
    char number[8];
    std::snprintf(number, sizeof number, "&%04zx", collection);
    std::string path = std::string("\\\\?\\hid#") + ids + "#" + instanceId + number +
                       "#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    if (upperCasePaths) {
        std::transform(path.begin(), path.end(), path.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    }
    return path;
}

}  // namespace models
