// HID backend over the simulated bus.
#include "platform/hid.h"
#include "sim/hid_bus.h"

namespace platform {

Outcome HidEnumerateInterfaces(std::vector<std::string>& paths) { return sim::BusEnumerate(paths); }
Opened HidOpenProbe(const std::string& path) { return sim::BusOpen(path, false); }
Opened HidOpenReadWrite(const std::string& path) { return sim::BusOpen(path, true); }

Outcome HidGetAttributes(DeviceHandle handle, std::uint16_t& vendorId, std::uint16_t& productId)
{
    return sim::BusGetAttributes(handle, vendorId, productId);
}

Outcome HidGetCaps(DeviceHandle handle, HidCaps& caps)
{
    models::HidCollection collection{};
    const Outcome known = sim::BusGetCollection(handle, collection);
    if (!known) return known;
    caps.Usage = collection.usage;
    caps.UsagePage = collection.usagePage;
    caps.InputReportByteLength = collection.inputLength;
    caps.OutputReportByteLength = collection.outputLength;
    return known;
}

Outcome HidFlushInput(DeviceHandle handle) { return sim::BusFlushInput(handle); }

Outcome HidWriteReport(DeviceHandle handle, const std::uint8_t* report, std::size_t length, std::uint32_t timeLimitMs)
{
    return sim::BusWrite(handle, report, length, timeLimitMs);
}

Outcome HidReadReport(DeviceHandle handle, std::uint8_t* buffer, std::size_t length, std::uint32_t timeLimitMs)
{
    return sim::BusRead(handle, buffer, length, timeLimitMs);
}

Outcome HidSetOutputReport(DeviceHandle handle, const std::uint8_t* report, std::size_t length,
                           std::uint32_t timeLimitMs)
{
    return sim::BusSetOutputReport(handle, report, length, timeLimitMs);
}

Outcome HidGetInputReport(DeviceHandle handle, std::uint8_t* buffer, std::size_t length,
                          std::uint32_t timeLimitMs)
{
    return sim::BusGetInputReport(handle, buffer, length, timeLimitMs);
}

void HidClose(DeviceHandle handle) { sim::BusClose(handle); }

}  // namespace platform
