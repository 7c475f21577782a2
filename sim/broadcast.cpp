#include "sim/broadcast.h"

#include "device/interface_broadcast.h"

namespace sim {

std::vector<std::uint8_t> MakeInterfaceBroadcast(const std::string& name, NameLayout layout)
{
    return InterfaceArrivalRecord(name, layout == NameLayout::Wide);
}

}  // namespace sim
