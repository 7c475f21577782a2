// The download claim on the simulated machine.
#include "platform/download_claim.h"
#include "sim/download_claims.h"

namespace platform {

Outcome ClaimForDownload(const std::string& path, DownloadClaim& claim) { return sim::TakeClaim(path, claim); }

void ReleaseDownloadClaim(DownloadClaim& claim)
{
    if (claim != kNoClaim) sim::GiveBackClaim(claim);
    claim = kNoClaim;
}

}  // namespace platform
