// A whole walk over a device whose descriptors come from the input: its device descriptor,
// configuration set and identification string reply, as raw bytes the device returns.
// Afterwards nothing may be held.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "state/download_state.h"
#include "device/usb_descriptors.h"
#include "device/usb_topology.h"
#include "sim/trace.h"
#include "sim/usb_tree.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Layout: 18 device descriptor bytes, one byte of options, a 16-bit configuration length,
    // that many configuration bytes, and the string reply with the rest.
    if (size < 21) return 0;
    auto device = std::make_shared<sim::UsbDeviceModel>();
    std::copy(data, data + 18, device->deviceDescriptor.begin());
    const std::uint8_t options = data[18];
    device->newerRequestFails = (options & 1) != 0;
    device->speed = static_cast<std::uint8_t>((options >> 1) & 3);
    const std::size_t configurationLength = std::min<std::size_t>(ReadLe16(data + 19), size - 21);
    device->configuration.assign(data + 21, data + 21 + configurationLength);
    device->strings[{0xFF, 0x0036}].assign(data + 21 + configurationLength, data + size);
    if (options & 8) device->laterTotalLength = static_cast<std::uint16_t>(configurationLength + 1);

    auto root = sim::MakeUsbHub("USB#ROOT_HUB#fuzz", 2);
    root->ports[(options >> 4) & 1].device = device;
    sim::UsbTree tree;
    tree.controllers.push_back(sim::UsbController{0, false, root});
    sim::ResetUsbTree();
    sim::TraceKeepLines(false);  // no trace: building its lines would dominate the run
    sim::SetUsbTree(tree);
    downloadState.TopologyMatchFlag = 0;
    UsbTopologyWalk();
    if (sim::UsbLiveBlockCount() != 0 || sim::UsbOpenHandleCount() != 0 || sim::UsbBadBlockReleases() != 0) {
        std::abort();
    }
    return 0;
}
