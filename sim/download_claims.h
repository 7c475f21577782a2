// The download claims of the simulated machine (platform/download_claim.h): the claims this
// program holds, and the interfaces that other copies of the updater are writing to.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

// Another copy of the updater holds the claim on the interface at path (or lets it go).
void SetClaimedByAnotherCopy(const std::string& path, bool claimed);

// The claims this program holds.
int ClaimsHeld();

// Forgets every claim (a fresh world).
void ResetClaims();

// The simulated backend's claim and release. A claim on an interface that is claimed already,
// by this program or another copy, is refused, as the system refuses it.
bool TakeClaim(const std::string& path, std::intptr_t& claim);
void GiveBackClaim(std::intptr_t& claim);

}  // namespace sim
