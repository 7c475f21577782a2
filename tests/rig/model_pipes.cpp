#include "tests/rig/model_pipes.h"

#include "models/protocol1_device.h"
#include "models/protocol3_device.h"
#include "models/report_descriptor.h"

namespace rig {

bool AnswersEachWrite(const models::HidDevice& model)
{
    return dynamic_cast<const models::Protocol3Device*>(&model) != nullptr;
}

bool TakesSetOutputRequests(const models::HidDevice& model)
{
    return dynamic_cast<const models::Protocol1Device*>(&model) != nullptr;
}

namespace {

std::uint16_t LengthOf(const models::HidCollection& collection, ReportDirection direction)
{
    return direction == ReportDirection::Input ? collection.inputLength : collection.outputLength;
}

std::uint8_t IdOf(const models::HidCollection& collection, ReportDirection direction)
{
    return direction == ReportDirection::Input ? collection.inputReportId : collection.outputReportId;
}

}  // namespace

std::size_t CollectionDeclaring(const models::HidDevice& model, ReportDirection direction, std::uint8_t reportId)
{
    const auto& collections = model.collections;
    for (std::size_t i = 0; i < collections.size(); ++i)
        if (LengthOf(collections[i], direction) > 0 && IdOf(collections[i], direction) == reportId) return i;
    for (std::size_t i = 0; i < collections.size(); ++i)
        if (LengthOf(collections[i], direction) > 0) return i;
    return 0;
}

bool NumbersReports(const models::HidDevice& model, ReportDirection direction)
{
    for (const models::HidCollection& collection : model.collections)
        if (LengthOf(collection, direction) > 0 && models::NumbersReports(collection)) return true;
    return false;
}

}  // namespace rig
