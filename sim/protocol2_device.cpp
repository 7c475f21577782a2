#include "sim/models.h"

namespace sim {

// Placeholder until the protocol's device model lands: the collections only, no protocol.
std::shared_ptr<HidDevice> MakeProtocol2Device()
{
    return std::make_shared<HidDevice>(0x2563, 0x1818, std::vector<HidCollection>{{0xFF00, 0x0002}, {0xFF00, 0x0001}, {0x0001, 0x0005}});
}

}  // namespace sim
