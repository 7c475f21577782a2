#include "sim/broadcast.h"

#include <cstring>

namespace sim {
namespace {

// {4D1E55B2-F16F-11CF-88CB-001111000030} in its in-memory byte order.
constexpr std::uint8_t kHidInterfaceClass[16] = {0xB2, 0x55, 0x1E, 0x4D, 0x6F, 0xF1, 0xCF, 0x11,
                                                 0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30};

void PutU32(std::vector<std::uint8_t>& record, std::size_t offset, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) record[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

std::vector<std::uint8_t> MakeInterfaceBroadcast(const std::string& name, NameLayout layout)
{
    const std::size_t unit = layout == NameLayout::Wide ? 2 : 1;
    std::vector<std::uint8_t> record(28 + (name.size() + 1) * unit, 0);
    PutU32(record, 0, static_cast<std::uint32_t>(record.size()));
    PutU32(record, 4, 5);
    std::memcpy(record.data() + 12, kHidInterfaceClass, sizeof kHidInterfaceClass);
    for (std::size_t i = 0; i < name.size(); ++i) record[28 + i * unit] = static_cast<std::uint8_t>(name[i]);
    return record;
}

}  // namespace sim
