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

}  // namespace platform
