#include "platform/linux/sysfs_facts.h"

#include <fstream>

namespace platform {

namespace fs = std::filesystem;

std::string SysfsFirstLine(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

bool SysfsNumber(const fs::path& file, int base, unsigned largest, unsigned& value)
{
    const std::string text = SysfsFirstLine(file);
    const char* digits = base == 16 ? "0123456789abcdefABCDEF" : "0123456789";
    if (text.empty() || text.size() > 5 || text.find_first_not_of(digits) != std::string::npos) return false;
    value = static_cast<unsigned>(std::stoul(text, nullptr, base));
    return value <= largest;
}

std::string SysfsDeviceName(const fs::path& device)
{
    std::ifstream in(device / "uevent");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("DEVNAME=", 0) != 0) continue;
        const std::string name = line.substr(8);
        if (name.empty() || name[0] == '/' || name.find("..") != std::string::npos) return "";
        return name;
    }
    return "";
}

bool SysfsReadUsbInterface(const fs::path& interface, SysfsUsbInterface& facts)
{
    const fs::path device = interface.parent_path();
    unsigned interfaceClass = 0;
    unsigned interfaceNumber = 0;
    unsigned vendorId = 0;
    unsigned productId = 0;
    unsigned bus = 0;
    unsigned address = 0;
    if (!SysfsNumber(interface / "bInterfaceClass", 16, 0xFF, interfaceClass) ||
        !SysfsNumber(interface / "bInterfaceNumber", 16, 0xFF, interfaceNumber) ||
        !SysfsNumber(device / "idVendor", 16, 0xFFFF, vendorId) || !SysfsNumber(device / "idProduct", 16, 0xFFFF, productId) ||
        !SysfsNumber(device / "busnum", 10, 0xFFFF, bus) || !SysfsNumber(device / "devnum", 10, 127, address)) {
        return false;
    }
    const std::string name = SysfsDeviceName(device);
    if (name.empty()) return false;
    facts.interfaceClass = static_cast<std::uint8_t>(interfaceClass);
    facts.interfaceNumber = static_cast<std::uint8_t>(interfaceNumber);
    facts.vendorId = static_cast<std::uint16_t>(vendorId);
    facts.productId = static_cast<std::uint16_t>(productId);
    facts.bus = static_cast<std::uint16_t>(bus);
    facts.address = static_cast<std::uint8_t>(address);
    facts.deviceNode = "/dev/" + name;
    return true;
}

}  // namespace platform
