#include "sim/models.h"

namespace sim {

// Placeholder until the protocol's device model lands: the collections only, no protocol.
std::shared_ptr<HidDevice> MakeProtocol1Device()
{
    return std::make_shared<HidDevice>(0x2563, 0x0059, std::vector<HidCollection>{{0x0001, 0x0006}, {0xFF00, 0x0001}, {0xFF00, 0x0002}});
}

}  // namespace sim
