// What the downloads and opens of this run came to, as the seam hands them to the front end, each
// as a value: each download's outcome (platform::DownloadEnded), counted for the exit status; and
// each controller that could not be opened (platform::ControllerNotOpened), kept until the roads
// tell the user why.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/outcome.h"
#include "platform/ui.h"

struct DownloadOutcomes {
    int succeeded = 0;
    int failed = 0;
    int stopped = 0;  // ended for a sleep or a shutdown: neither, and done again after a resume
};

void CountDownloadOutcome(platform::DownloadOutcome outcome);
void CountStoppedDownload();
DownloadOutcomes CountedOutcomes();

// A controller's node that could not be opened, or whose interface could not be claimed: the
// hidraw node, or the usbfs node of a USB controller's class requests.
struct RefusedOpen {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    platform::Outcome outcome;  // names the node
};
void KeepRefusedOpen(std::uint16_t vendorId, std::uint16_t productId, const platform::Outcome& outcome);
// The refused opens since the last call, oldest first.
std::vector<RefusedOpen> TakeRefusedOpens();
