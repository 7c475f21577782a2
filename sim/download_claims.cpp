#include "sim/download_claims.h"

#include <map>
#include <mutex>
#include <set>

#include "sim/trace.h"

namespace sim {
namespace {

std::mutex claimMutex;
std::map<std::intptr_t, std::string> ours;  // this program's claims, by their number
std::set<std::string> othersClaims;
std::map<std::string, platform::Outcome> refusals;
std::intptr_t nextClaim = 1;

bool Claimed(const std::string& path)
{
    if (othersClaims.count(path) != 0) return true;
    for (const auto& claim : ours)
        if (claim.second == path) return true;
    return false;
}

}  // namespace

void SetClaimRefused(const std::string& path, platform::Status answer, const std::string& reason)
{
    std::lock_guard<std::mutex> lock(claimMutex);
    if (answer == platform::Status::Done) refusals.erase(path);
    else refusals[path] = platform::Failure(answer, "claim " + path, reason);
}

void SetClaimedByAnotherCopy(const std::string& path, bool claimed)
{
    std::lock_guard<std::mutex> lock(claimMutex);
    if (claimed) othersClaims.insert(path);
    else othersClaims.erase(path);
}

int ClaimsHeld()
{
    std::lock_guard<std::mutex> lock(claimMutex);
    return static_cast<int>(ours.size());
}

void ResetClaims()
{
    std::lock_guard<std::mutex> lock(claimMutex);
    ours.clear();
    othersClaims.clear();
    refusals.clear();
}

platform::Outcome TakeClaim(const std::string& path, std::intptr_t& claim)
{
    claim = 0;
    platform::Outcome result;
    {
        std::lock_guard<std::mutex> lock(claimMutex);
        const auto refused = refusals.find(path);
        if (refused != refusals.end()) {
            result = refused->second;
        } else if (Claimed(path)) {
            result = platform::Failure(platform::Status::Held, "claim " + path, "another copy of the updater holds it");
        } else {
            claim = nextClaim++;
            ours[claim] = path;
        }
    }
    const char* line = "claim without object ";
    if (result.status == platform::Status::Done) line = "claim taken ";
    if (result.status == platform::Status::Held) line = "claim held ";
    if (result.status == platform::Status::Denied) line = "claim denied ";
    TraceLine(line + path);
    return result;
}

void GiveBackClaim(std::intptr_t& claim)
{
    std::string path;
    {
        std::lock_guard<std::mutex> lock(claimMutex);
        auto found = ours.find(claim);
        if (found == ours.end()) return;
        path = found->second;
        ours.erase(found);
    }
    claim = 0;
    TraceLine("claim released " + path);
}

}  // namespace sim
