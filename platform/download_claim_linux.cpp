// On Linux the read-write handle itself keeps other programs off a controller: it holds an
// exclusive lock on the hidraw node for as long as it is open (hid_linux.cpp), so a second copy's
// read-write open already fails. The download claim has nothing to add.
#include "platform/download_claim.h"

namespace platform {

ClaimResult ClaimForDownload(const std::string&, DownloadClaim& claim)
{
    claim = kNoClaim;
    return {};
}

void ReleaseDownloadClaim(DownloadClaim& claim) { claim = kNoClaim; }

}  // namespace platform
