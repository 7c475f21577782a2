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
std::intptr_t nextClaim = 1;

bool Claimed(const std::string& path)
{
    if (othersClaims.count(path) != 0) return true;
    for (const auto& claim : ours)
        if (claim.second == path) return true;
    return false;
}

}  // namespace

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
}

bool TakeClaim(const std::string& path, std::intptr_t& claim)
{
    claim = 0;
    {
        std::lock_guard<std::mutex> lock(claimMutex);
        if (!Claimed(path)) {
            claim = nextClaim++;
            ours[claim] = path;
        }
    }
    TraceLine((claim != 0 ? "claim taken " : "claim held ") + path);
    return claim != 0;
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
