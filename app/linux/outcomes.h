// What the downloads of this run came to, as the seam hands each outcome to the front end
// (platform::DownloadEnded): counted for the exit status.
#pragma once

#include "platform/ui.h"

struct DownloadOutcomes {
    int succeeded = 0;
    int failed = 0;
};

void CountDownloadOutcome(platform::DownloadOutcome outcome);
DownloadOutcomes CountedOutcomes();
