#include "app/roads_linux.h"

#include <poll.h>
#include <signal.h>

#include <cstdio>
#include <deque>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/dialog_logic.h"
#include "state/download_state.h"
#include "device/device_link.h"
#include "platform/hid.h"
#include "platform/hid_linux.h"
#include "platform/session_guard_linux.h"
#include "platform/terminal_linux.h"

namespace {

// How often the program looks whether a running download has ended.
constexpr int kDownloadPollMs = 50;

bool stopRequested = false;

bool DownloadRunning() { return downloadState.busy != 0; }

const char* SignalName(int number)
{
    switch (number) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "a signal";
    }
}

// Takes the signals that arrived. During a download each one is held off, with the reason;
// either way the program ends as soon as no download runs.
void TakeSignals()
{
    while (const int number = platform::SessionTakeSignal()) {
        stopRequested = true;
        if (DownloadRunning()) {
            platform::TerminalNotice(std::string(SignalName(number)) + " held off until the download has ended: " +
                                     platform::kSessionGuardReason);
        }
    }
}

// Waits until no download runs, taking the signals that arrive meanwhile.
void WaitForDownload()
{
    while (DownloadRunning()) {
        pollfd signals{platform::SessionSignalFd(), POLLIN, 0};
        poll(&signals, signals.fd >= 0 ? 1 : 0, kDownloadPollMs);
        TakeSignals();
    }
}

std::string Ids(std::uint16_t vendorId, std::uint16_t productId)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04x:%04x", vendorId, productId);
    return text;
}

// Tells why read-write opens failed, once per node and reason. True when another program holds
// one of the nodes.
bool ReportOpenFailures()
{
    bool heldElsewhere = false;
    std::set<std::pair<std::string, platform::HidOpenProblem>> told;
    for (const platform::HidOpenFailure& failure : platform::HidTakeOpenFailures()) {
        if (!told.emplace(failure.node, failure.problem).second) continue;
        switch (failure.problem) {
        case platform::HidOpenProblem::HeldByAnotherProgram:
            heldElsewhere = true;
            platform::TerminalNotice(failure.node + " is being written by another program: no download started");
            break;
        case platform::HidOpenProblem::NoAccess:
            platform::TerminalNotice("cannot open " + failure.node + " for reading and writing: " + failure.reason);
            platform::TerminalNotice("install the udev rules (70-oskel-update.rules into /etc/udev/rules.d/), "
                                     "then unplug the controller and plug it in again; or run oskel-update with sudo");
            break;
        case platform::HidOpenProblem::Other:
            platform::TerminalNotice("cannot open " + failure.node + " for reading and writing: " + failure.reason);
            break;
        }
    }
    return heldElsewhere;
}

int ExitStatus()
{
    const platform::DownloadOutcomes outcomes = platform::TerminalOutcomes();
    return outcomes.succeeded > 0 && outcomes.failed == 0 ? 0 : 1;
}

int Downloads()
{
    const platform::DownloadOutcomes outcomes = platform::TerminalOutcomes();
    return outcomes.succeeded + outcomes.failed;
}

// A supported controller in its normal mode: Start found it (and would walk the USB topology on
// Windows) and left it alone.
void NameNormalModeController()
{
    if (!deviceLink || !deviceLink->found || downloadState.UpdateModeFlag != 0) return;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    if (!platform::HidGetAttributes(deviceLink->probeHandle, vendorId, productId)) return;
    platform::TerminalNotice("the controller " + Ids(vendorId, productId) +
                             " is in its normal mode and is left alone: only a controller in an update mode is updated");
}

// Announces every interface (top-level collection) of the node, one after another, as Windows
// announces the interfaces of a device that is plugged in.
void AnnounceNode(const platform::HidNode& node)
{
    for (const std::string& path : node.interfacePaths) {
        DialogInterfaceArrived(platform::TerminalDialog(), path);
    }
}

}  // namespace

int RunStartRoad()
{
    DialogStart(platform::TerminalDialog());
    const bool heldElsewhere = ReportOpenFailures();
    if (DownloadRunning()) {
        WaitForDownload();
    } else if (!heldElsewhere && Downloads() == 0) {
        NameNormalModeController();
    }
    return ExitStatus();
}

int RunArrivalRoad(bool once)
{
    std::string error;
    if (!platform::HidArrivalMonitorOpen(error)) {
        platform::TerminalNotice("controllers that are plugged in cannot be noticed: " + error);
        return 1;
    }
    // Opened before the present nodes are listed, so that none falls between the two; a node
    // that arrived in between is listed and announced by udev too, and is taken once.
    std::deque<platform::HidNode> arrived;
    std::vector<platform::HidNode> present;
    platform::HidEnumerateNodes(present);
    arrived.insert(arrived.end(), present.begin(), present.end());
    std::set<std::string> listedAtStart;
    for (const platform::HidNode& node : present) listedAtStart.insert(node.instance);

    // A node that arrives while a download runs waits for its end: its interfaces are announced
    // together when no download runs, so that one device starts one download.
    for (;;) {
        TakeSignals();
        if (!DownloadRunning()) {
            if (stopRequested || (once && Downloads() > 0)) break;
            if (!arrived.empty()) {
                AnnounceNode(arrived.front());
                arrived.pop_front();
                if (ReportOpenFailures() && !DownloadRunning()) return 1;
                continue;
            }
        }
        pollfd ready[2] = {{platform::SessionSignalFd(), POLLIN, 0}, {platform::HidArrivalMonitorFd(), POLLIN, 0}};
        poll(ready, 2, DownloadRunning() ? kDownloadPollMs : -1);
        if (ready[1].revents & POLLIN) {
            for (platform::HidNode& node : platform::HidArrivalMonitorReceive()) {
                if (listedAtStart.erase(node.instance) == 0) arrived.push_back(std::move(node));
            }
        }
    }
    platform::HidArrivalMonitorClose();
    return ExitStatus();
}
