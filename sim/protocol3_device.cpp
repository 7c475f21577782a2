#include "sim/models.h"

namespace sim {

// Placeholder until the protocol's device model lands: the collections only, no protocol.
std::shared_ptr<HidDevice> MakeProtocol3Device()
{
    return std::make_shared<HidDevice>(0x0461, 0x4D81, std::vector<HidCollection>{{0x0001, 0x0005}});
}

}  // namespace sim
