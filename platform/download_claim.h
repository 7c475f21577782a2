// At most one download per controller on the machine, whichever copy of the program runs it. A
// finder that opens a controller for a download claims the interface it opened; the claim is given
// back when the transfer has ended (or when no download follows).
#pragma once

#include <cstdint>
#include <string>

namespace platform {

using DownloadClaim = std::intptr_t;
inline constexpr DownloadClaim kNoClaim = 0;

// What the system answered to a claim.
enum class ClaimOutcome {
    Claimed,   // this program holds the claim (or the system needs none: claim stays kNoClaim)
    Held,      // another copy of the program holds it: the controller is being written
    NoObject,  // no claim can be had: the system makes none for this program, and none exists
    Denied,    // the claim exists, but this program may not use it
};

struct ClaimResult {
    ClaimOutcome outcome = ClaimOutcome::Claimed;
    std::string reason;  // for NoObject and Denied: the system's refusal, as text
};

// Claims the interface at path for one download. claim is kNoClaim unless the outcome is Claimed.
ClaimResult ClaimForDownload(const std::string& path, DownloadClaim& claim);

// Gives the claim back (nothing when claim is kNoClaim); claim becomes kNoClaim.
void ReleaseDownloadClaim(DownloadClaim& claim);

}  // namespace platform
