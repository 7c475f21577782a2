#include "models/models.h"

#include "models/protocol3_device.h"
#include "state/download_modes.h"

namespace models {

std::shared_ptr<HidDevice> MakeNormalController(std::uint16_t vendorId, std::uint16_t productId)
{
    // One game-pad collection that numbers no reports: a 20-byte input report, no output report.
    return std::make_shared<HidDevice>(vendorId, productId, std::vector<HidCollection>{{0x0001, 0x0005, 0, 20, 0, 0}});
}

std::shared_ptr<HidDevice> MakeProtocol3DeviceBehindKeyboard()
{
    // A boot keyboard that numbers no reports (8 bytes of keys, 1 byte of LEDs), then the
    // controller's vendor-defined collection with the protocol's 65-byte reports.
    const HidCollection keyboard{0x0001, 0x0006, 0, 9, 0, 2};
    const HidCollection vendor{0xFF00, 0x0001, 0, 65, 0, 65};
    return std::make_shared<Protocol3Device>(std::vector<HidCollection>{keyboard, vendor});
}

std::shared_ptr<HidDevice> MakeDevice(std::uint16_t vendorId, std::uint16_t productId)
{
    const DownloadModeFacts* updateMode = ModeOfDevice(vendorId, productId);
    if (updateMode) {
        switch (updateMode->transfer) {
        case Transfer::Protocol1: return MakeProtocol1Device();
        case Transfer::Protocol2: return MakeProtocol2Device();
        case Transfer::Protocol3: return MakeProtocol3Device();
        }
    }
    return MakeNormalController(vendorId, productId);
}

}  // namespace models
