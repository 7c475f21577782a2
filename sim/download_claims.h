// The download claims of the simulated machine (platform/download_claim.h): the claims this
// program holds, and the interfaces that other copies of the updater are writing to.
#pragma once

#include <cstdint>
#include <string>

#include "platform/download_claim.h"

namespace sim {

// Another copy of the updater holds the claim on the interface at path (or lets it go).
void SetClaimedByAnotherCopy(const std::string& path, bool claimed);

// The system refuses the claim on the interface at path with this answer (Failed: no object can be
// had; Denied: one exists that this program may not use) and reason; Done takes the refusal back.
void SetClaimRefused(const std::string& path, platform::Status answer, const std::string& reason);

// The claims this program holds.
int ClaimsHeld();

// Forgets every claim (a fresh world).
void ResetClaims();

// The simulated backend's claim and release. A claim on an interface that is claimed already,
// by this program or another copy, is held; one that the system refuses gets its answer.
platform::Outcome TakeClaim(const std::string& path, std::intptr_t& claim);
void GiveBackClaim(std::intptr_t& claim);

}  // namespace sim
