// The download claim on the simulated machine.
#include "platform/download_claim.h"
#include "sim/download_claims.h"

namespace platform {

Outcome ClaimForDownload(const std::string& path, DownloadClaim& claim)
{
    if (sim::TakeClaim(path, claim)) return Done();
    return Failure(Status::Held, "claim " + path, "another copy of the updater holds it");
}

void ReleaseDownloadClaim(DownloadClaim& claim)
{
    if (claim != kNoClaim) sim::GiveBackClaim(claim);
    claim = kNoClaim;
}

}  // namespace platform
