#include "tests/rig/model_pipes.h"

#include "models/protocol1_device.h"
#include "models/protocol3_device.h"

namespace rig {

bool AnswersEachWrite(const models::HidDevice& model)
{
    return dynamic_cast<const models::Protocol3Device*>(&model) != nullptr;
}

bool TakesSetOutputRequests(const models::HidDevice& model)
{
    return dynamic_cast<const models::Protocol1Device*>(&model) != nullptr;
}

}  // namespace rig
