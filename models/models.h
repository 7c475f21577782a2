// The device models of the simulated world.
#pragma once

#include <cstdint>
#include <memory>

#include "models/hid_device.h"

namespace models {

// A controller in its normal mode: one collection (generic desktop, game pad), no protocol.
std::shared_ptr<HidDevice> MakeNormalController(std::uint16_t vendorId, std::uint16_t productId);

// The update-mode devices, each the device side of its protocol.
std::shared_ptr<HidDevice> MakeProtocol1Device();  // several collections
std::shared_ptr<HidDevice> MakeProtocol2Device();  // several collections
std::shared_ptr<HidDevice> MakeProtocol3Device();  // one collection
// Mode 3's device as a composite device whose first interface is a keyboard (which Windows opens
// for reading and writing only for itself), its vendor-defined collection second.
std::shared_ptr<HidDevice> MakeProtocol3DeviceBehindKeyboard();

// The model for a vendor:product pair: an update-mode device for the three update modes,
// otherwise a normal controller.
std::shared_ptr<HidDevice> MakeDevice(std::uint16_t vendorId, std::uint16_t productId);

}  // namespace models
