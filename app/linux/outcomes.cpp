#include "app/linux/outcomes.h"

#include <mutex>

namespace {

std::mutex outcomesMutex;  // the worker counts and claims, the main loop reads
DownloadOutcomes outcomes;
std::vector<RefusedOpen> refusedOpens;

}  // namespace

void KeepRefusedOpen(std::uint16_t vendorId, std::uint16_t productId, const platform::Outcome& outcome)
{
    std::lock_guard<std::mutex> lock(outcomesMutex);
    refusedOpens.push_back({vendorId, productId, outcome});
}

std::vector<RefusedOpen> TakeRefusedOpens()
{
    std::lock_guard<std::mutex> lock(outcomesMutex);
    std::vector<RefusedOpen> taken;
    taken.swap(refusedOpens);
    return taken;
}

void CountDownloadOutcome(platform::DownloadOutcome outcome)
{
    std::lock_guard<std::mutex> lock(outcomesMutex);
    if (outcome == platform::DownloadOutcome::Succeeded) ++outcomes.succeeded;
    else ++outcomes.failed;
}

void CountStoppedDownload()
{
    std::lock_guard<std::mutex> lock(outcomesMutex);
    ++outcomes.stopped;
}

DownloadOutcomes CountedOutcomes()
{
    std::lock_guard<std::mutex> lock(outcomesMutex);
    return outcomes;
}
