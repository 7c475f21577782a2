// The one HID device link record and its finders.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/download_claim.h"
#include "platform/hid.h"
#include "platform/types.h"

struct DeviceLink {
    platform::HidCaps caps;                  // of the last device whose caps were queried
    std::string interfaceDetail;             // device path of the candidate under examination
    platform::DeviceHandle probeHandle = platform::kInvalidHandle;
    std::vector<std::string> deviceInfoSet;  // the interfaces of the last finder call
    bool found = false;
    platform::DeviceHandle transferHandle = platform::kInvalidHandle;
    // The claim on the transfer handle's interface, taken by the finder that opened it, so that no
    // other copy of the program downloads to the controller meanwhile (platform/download_claim.h).
    platform::DownloadClaim downloadClaim = platform::kNoClaim;
    platform::DeviceHandle supportedHandle = platform::kInvalidHandle;
    std::uint32_t expectedVendorId = 0x2563;
    std::uint32_t expectedProductId = 0x0575;
    // The interface that an arrival named: the next finder call tries it before the others.
    std::string arrivedInterface;

    // Accepts a controller of SupportedDeviceTable; sets UpdateModeFlag for an update mode.
    bool FindSupportedDevice();
    // Each accepts exactly one update-mode device, opens transferHandle on it and claims it for
    // the download. A device that another copy of the program is writing to is passed over, all of
    // its collections, as one that the system holds; when no other device is accepted the finder
    // ends as for a device that another program holds: found, without a handle.
    bool FindProtocol1Device();
    bool FindProtocol2Device();
    bool FindProtocol3Device();
    // Gives back the claim on the transfer handle's interface: the transfer has ended, or none
    // follows.
    void ReleaseClaim();
    // Closes every handle that is still open, and gives back the claim.
    void CloseDeviceLink();

    struct FinderRule;

private:
    bool RunFinder(const FinderRule& rule);
    template <std::int32_t Mode>
    bool FindUpdateModeDevice();
    void QueryDeviceCaps();
    bool ClaimTransferInterface();
};

// The process-wide link, created and deleted by the main dialog.
extern DeviceLink* deviceLink;

// The device an interface path belongs to: the path without what numbers the device's top-level
// collections (the hardware id's "&colNN" and the instance id's last part), and without its class:
// "\\?\hid#vid_2563&pid_1818&col02#7&1a2b3c4d&0&0001#{...}" and its "&col01" interface,
// "...#7&1a2b3c4d&0&0000#{...}", are one device. ASCII letters lowercased.
std::string DeviceOfInterface(const std::string& path);

// True when vendorId:productId stands in the table of supported controllers.
bool IsInSupportedDeviceTable(std::uint16_t vendorId, std::uint16_t productId);
