// The scan of a configuration descriptor set and of a device descriptor, on any bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "device/usb_descriptors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 0xFFFF) return 0;  // a descriptor set's length is a 16-bit field
    // An exact copy, so that a read one byte past the set is caught.
    std::vector<std::uint8_t> set(data, data + size);
    ConfigurationNamesString(set.data(), set.size());
    if (size >= 18) DeviceDescriptorNamesString(set.data());
    return 0;
}
