#include "sim/broadcast.h"

#include <cstring>

#include "device/interface_broadcast.h"

namespace sim {

std::vector<std::uint8_t> MakeInterfaceBroadcast(const std::string& name, NameLayout layout)
{
    const std::size_t unit = layout == NameLayout::Wide ? 2 : 1;
    std::vector<std::uint8_t> record(kBroadcastNameOffset + (name.size() + 1) * unit, 0);
    const auto size = static_cast<std::uint32_t>(record.size());
    std::memcpy(record.data() + kBroadcastSizeOffset, &size, sizeof size);
    std::memcpy(record.data() + kBroadcastDeviceTypeOffset, &kDbtDevtypDeviceInterface, sizeof kDbtDevtypDeviceInterface);
    std::memcpy(record.data() + kBroadcastClassOffset, kHidInterfaceClass, sizeof kHidInterfaceClass);
    for (std::size_t i = 0; i < name.size(); ++i) {
        record[kBroadcastNameOffset + i * unit] = static_cast<std::uint8_t>(name[i]);
    }
    return record;
}

}  // namespace sim
