#include "tests/rig/controller_settings.h"

#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "models/models.h"

namespace rig {

bool ParseIds(const char* text, std::uint16_t& vendorId, std::uint16_t& productId)
{
    unsigned vendor = 0;
    unsigned product = 0;
    char end = 0;
    if (std::sscanf(text, "%4x:%4x%c", &vendor, &product, &end) != 2) return false;
    vendorId = static_cast<std::uint16_t>(vendor);
    productId = static_cast<std::uint16_t>(product);
    return true;
}

bool ParseNumber(const char* text, std::uint32_t& value)
{
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(text, &end, 10);
    if (text[0] == '\0' || text[0] == '-' || *end != '\0' || parsed > 0xFFFFFFFFull) return false;
    value = static_cast<std::uint32_t>(parsed);
    return true;
}

OptionUse ParseControllerOption(const std::string& option, const char* value, ControllerSettings& settings,
                                std::string& error)
{
    for (std::size_t m = 0; m < std::size(kModelSettings); ++m) {
        if (option != kModelSettings[m].option || kModelSettings[m].takesNumber) continue;
        settings.modelValues[m] = 1;
        return OptionUse::Flag;
    }
    std::uint32_t* number = nullptr;
    if (option == kLatencyOption) number = &settings.latencyMs;
    for (const FaultSetting& fault : kFaultSettings) {
        if (option == fault.option) number = &(settings.faults.*fault.field);
    }
    for (std::size_t m = 0; m < std::size(kModelSettings); ++m) {
        if (option == kModelSettings[m].option) number = &settings.modelValues[m];
    }
    if (number == nullptr && option != kRecordOption) return OptionUse::Unknown;
    if (value == nullptr) {
        error = "option " + option + " needs a value";
        return OptionUse::Bad;
    }
    if (number == nullptr) {
        settings.recordFolder = value;
        return OptionUse::Value;
    }
    if (!ParseNumber(value, *number)) {
        error = "option " + option + " needs a number, not '" + value + "'";
        return OptionUse::Bad;
    }
    return OptionUse::Value;
}

std::shared_ptr<models::HidDevice> MakeControllerModel(const ControllerSettings& settings)
{
    std::shared_ptr<models::HidDevice> model = models::MakeDevice(settings.vendorId, settings.productId);
    model->faults = settings.faults;
    model->latencyMs = settings.latencyMs;
    for (std::size_t i = 0; i < std::size(kModelSettings); ++i) {
        if (settings.modelValues[i] != 0) model->SetOption(kModelSettings[i].modelOption, settings.modelValues[i]);
    }
    return model;
}

}  // namespace rig
