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

// Claims the interface at path for one download. Held only when another program holds the
// claim: the controller is being written, and must be left alone. When the claim cannot be made
// at all, the debugger output says why, claim stays kNoClaim, and the download may go on (Done).
Outcome ClaimForDownload(const std::string& path, DownloadClaim& claim);

// Gives the claim back (nothing when claim is kNoClaim); claim becomes kNoClaim.
void ReleaseDownloadClaim(DownloadClaim& claim);

}  // namespace platform
