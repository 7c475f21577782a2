// At most one download per controller on the machine, whichever copy of the program runs it. A
// finder that opens a controller for a download claims the interface it opened; the claim is given
// back when the transfer has ended (or when no download follows).
#pragma once

#include <cstdint>
#include <string>

#include "platform/outcome.h"

namespace platform {

using DownloadClaim = std::intptr_t;
inline constexpr DownloadClaim kNoClaim = 0;

// Claims the interface at path for one download. Done when this program holds the claim (or the
// system needs none: claim stays kNoClaim); otherwise claim stays kNoClaim and the status says why:
// - Held: another copy of the program holds it: the controller is being written, leave it alone;
// - Failed: no claim can be had (the system makes none for this program, and none exists);
// - Denied: the claim exists, but this program may not use it (another's, or a squatter's).
// For Failed and Denied, reason holds the system's refusal; the download may go on without a claim.
Outcome ClaimForDownload(const std::string& path, DownloadClaim& claim);

// Gives the claim back (nothing when claim is kNoClaim); claim becomes kNoClaim.
void ReleaseDownloadClaim(DownloadClaim& claim);

}  // namespace platform
