#include "tests/wine/hid/node_settings.h"

#include <iterator>

namespace rig {
namespace {

LONG PutNumber(HKEY key, const char* name, std::uint32_t value)
{
    const DWORD data = value;
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data));
}

bool GetNumber(HKEY key, const char* name, std::uint32_t& value)
{
    DWORD data = 0;
    DWORD type = 0;
    DWORD size = sizeof(data);
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(data))
        return false;
    value = data;
    return true;
}

constexpr DWORD kMaxFolderLength = 1024;

}  // namespace

bool WriteNodeSettings(HKEY key, const NodeSettings& settings, LONG& error)
{
    error = PutNumber(key, kVendorValue, settings.vendorId);
    if (error == ERROR_SUCCESS) error = PutNumber(key, kProductValue, settings.productId);
    if (error == ERROR_SUCCESS) error = PutNumber(key, kCollectionValue, settings.collection);
    if (error == ERROR_SUCCESS) error = PutNumber(key, kLatencyValue, settings.latencyMs);
    if (error == ERROR_SUCCESS) {
        error = RegSetValueExA(key, kRecordFolderValue, 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(settings.recordFolder.c_str()),
                               static_cast<DWORD>(settings.recordFolder.size() + 1));
    }
    for (const FaultSetting& fault : kFaultSettings) {
        if (error == ERROR_SUCCESS) error = PutNumber(key, fault.valueName, settings.faults.*fault.field);
    }
    for (std::size_t i = 0; i < std::size(kModelSettings); ++i) {
        if (error == ERROR_SUCCESS) error = PutNumber(key, kModelSettings[i].valueName, settings.modelValues[i]);
    }
    return error == ERROR_SUCCESS;
}

bool ReadNodeSettings(HKEY key, NodeSettings& settings)
{
    std::uint32_t vendor = 0;
    std::uint32_t product = 0;
    if (!GetNumber(key, kVendorValue, vendor) || !GetNumber(key, kProductValue, product) ||
        !GetNumber(key, kCollectionValue, settings.collection) || vendor > 0xFFFF || product > 0xFFFF ||
        settings.collection == 0)
        return false;
    settings.vendorId = static_cast<std::uint16_t>(vendor);
    settings.productId = static_cast<std::uint16_t>(product);
    GetNumber(key, kLatencyValue, settings.latencyMs);
    for (const FaultSetting& fault : kFaultSettings) GetNumber(key, fault.valueName, settings.faults.*fault.field);
    for (std::size_t i = 0; i < std::size(kModelSettings); ++i)
        GetNumber(key, kModelSettings[i].valueName, settings.modelValues[i]);

    char folder[kMaxFolderLength + 1] = {};
    DWORD type = 0;
    DWORD size = kMaxFolderLength;
    if (RegQueryValueExA(key, kRecordFolderValue, nullptr, &type, reinterpret_cast<BYTE*>(folder), &size) ==
            ERROR_SUCCESS &&
        type == REG_SZ) {
        folder[size < kMaxFolderLength ? size : kMaxFolderLength] = '\0';
        settings.recordFolder = folder;
    }
    return true;
}

}  // namespace rig
