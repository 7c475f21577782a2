#include "tests/rig/model_pipes.h"

#include "sim/protocol1_device.h"
#include "sim/protocol3_device.h"

namespace rig {

bool AnswersEachWrite(const sim::HidDevice& model)
{
    return dynamic_cast<const sim::Protocol3Device*>(&model) != nullptr;
}

bool TakesSetOutputRequests(const sim::HidDevice& model)
{
    return dynamic_cast<const sim::Protocol1Device*>(&model) != nullptr;
}

}  // namespace rig
