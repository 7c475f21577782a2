#include "app/linux/outcomes.h"

#include <mutex>

namespace {

std::mutex outcomesMutex;  // the worker counts, the main loop reads
DownloadOutcomes outcomes;

}  // namespace

void CountDownloadOutcome(platform::DownloadOutcome outcome)
{
    std::lock_guard<std::mutex> lock(outcomesMutex);
    if (outcome == platform::DownloadOutcome::Succeeded) ++outcomes.succeeded;
    else ++outcomes.failed;
}

DownloadOutcomes CountedOutcomes()
{
    std::lock_guard<std::mutex> lock(outcomesMutex);
    return outcomes;
}
