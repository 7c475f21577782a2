// HID backend over the simulated bus.
#include "platform/hid.h"
#include "sim/hid_bus.h"

namespace platform {

bool HidEnumerateInterfaces(std::vector<std::string>& paths) { return sim::BusEnumerate(paths); }
DeviceHandle HidOpenProbe(const std::string& path) { return sim::BusOpen(path, false); }
HidOpened HidOpenReadWrite(const std::string& path)
{
    HidOpened opened;
    std::string refusal;
    opened.handle = sim::BusOpen(path, true, &refusal);
    if (opened.handle == kInvalidHandle) opened.failure = "CreateFile for reading and writing: " + refusal;
    return opened;
}

bool HidGetAttributes(DeviceHandle handle, std::uint16_t& vendorId, std::uint16_t& productId)
{
    return sim::BusGetAttributes(handle, vendorId, productId);
}

bool HidGetCaps(DeviceHandle handle, HidCaps& caps)
{
    models::HidCollection collection{};
    if (!sim::BusGetCollection(handle, collection)) return false;
    caps.Usage = collection.usage;
    caps.UsagePage = collection.usagePage;
    caps.InputReportByteLength = collection.inputLength;
    caps.OutputReportByteLength = collection.outputLength;
    return true;
}

bool HidFlushInput(DeviceHandle handle) { return sim::BusFlushInput(handle); }

bool HidWriteReport(DeviceHandle handle, const std::uint8_t* report, std::size_t length,
                    std::uint32_t timeLimitMs)
{
    return sim::BusWrite(handle, report, length, timeLimitMs);
}

bool HidReadReport(DeviceHandle handle, std::uint8_t* buffer, std::size_t length,
                   std::uint32_t timeLimitMs)
{
    return sim::BusRead(handle, buffer, length, timeLimitMs);
}

bool HidSetOutputReport(DeviceHandle handle, const std::uint8_t* report, std::size_t length,
                        std::uint32_t timeLimitMs)
{
    return sim::BusSetOutputReport(handle, report, length, timeLimitMs);
}

bool HidGetInputReport(DeviceHandle handle, std::uint8_t* buffer, std::size_t length,
                       std::uint32_t timeLimitMs)
{
    return sim::BusGetInputReport(handle, buffer, length, timeLimitMs);
}

void HidClose(DeviceHandle handle) { sim::BusClose(handle); }

}  // namespace platform
