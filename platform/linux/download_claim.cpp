// On Linux the read-write handle itself keeps other programs off a controller: it holds an
// exclusive lock on the hidraw node for as long as it is open (hid.cpp), so a second copy's
// read-write open already fails. What the download's claim adds is what a download takes beyond
// its handle: the USB interface that a controller's HID class requests take from usbhid
// (hid_usb.h). When the claim ends, as soon as the transfer has ended, every such interface goes
// back to usbhid, before the download's outcome is shown and before another download may start.
#include "platform/download_claim.h"

#include "platform/linux/hid_usb.h"

namespace platform {
namespace {

constexpr DownloadClaim kDownloadClaimed = 1;

}  // namespace

Outcome ClaimForDownload(const std::string&, DownloadClaim& claim)
{
    claim = kDownloadClaimed;
    return Done();
}

void ReleaseDownloadClaim(DownloadClaim& claim)
{
    if (claim != kNoClaim) UsbGiveBackInterfaces();
    claim = kNoClaim;
}

}  // namespace platform
