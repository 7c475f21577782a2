// On Linux the read-write handle itself keeps other programs off a controller: it holds an
// exclusive lock on the hidraw node for as long as it is open (hid.cpp), so a second copy's
// read-write open already fails. What the download's claim adds is what a download takes beyond
// its handle: the USB interface that a controller's HID class requests take from usbhid
// (hid_usb.h), which stays claimed, so that no other program takes it, until the front end has
// shown the download's outcome and gives it back to usbhid (UsbGiveBackInterfaces), before
// another download may start: usbhid's probe of a controller that answers nothing takes some
// 30 s, which the outcome does not wait for.
#include "platform/download_claim.h"

namespace platform {
namespace {

constexpr DownloadClaim kDownloadClaimed = 1;

}  // namespace

Outcome ClaimForDownload(const std::string&, DownloadClaim& claim)
{
    claim = kDownloadClaimed;
    return Done();
}

void ReleaseDownloadClaim(DownloadClaim& claim) { claim = kNoClaim; }

}  // namespace platform
