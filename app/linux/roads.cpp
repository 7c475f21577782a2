#include "app/linux/roads.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/dialog_logic.h"
#include "app/linux/access_advice.h"
#include "app/linux/controllers.h"
#include "app/linux/give_back.h"
#include "app/linux/outcomes.h"
#include "app/linux/system_sleep.h"
#include "app/linux/terminal.h"
#include "device/device_link.h"
#include "platform/hid.h"
#include "platform/linux/hidraw.h"
#include "platform/linux/session_guard.h"
#include "state/download_state.h"

namespace {

// How often the program looks whether a running download has ended.
constexpr int kDownloadPollMs = 50;

int endingSignal = 0;       // the first signal that asked the program to end
bool stopAsked = false;     // SIGTSTP came during a download: stop once it has ended
bool updateModeFound = false;  // a controller in an update mode was found, whether opened or not

bool DownloadRunning() { return downloadState.busy != 0; }

const char* SignalName(int number)
{
    switch (number) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    case SIGQUIT: return "SIGQUIT";
    case SIGTSTP: return "SIGTSTP";
    default: return "a signal";
    }
}

// Stops the program as SIGTSTP would have (it was held), until SIGCONT.
void StopNow()
{
    stopAsked = false;
    kill(getpid(), SIGSTOP);
}

// Takes the signals that arrived. During a download each one is held off, with the reason: the
// ending ones end the program, and SIGTSTP stops it, once the download has ended.
void TakeSignals()
{
    while (const int number = platform::SessionTakeSignal()) {
        if (DownloadRunning()) {
            TerminalNotice(std::string(SignalName(number)) + " held off until the download has ended: " +
                                     platform::kSessionGuardReason);
        }
        if (number == SIGTSTP) {
            stopAsked = true;
        } else if (endingSignal == 0) {
            endingSignal = number;
        }
        if (stopAsked && !DownloadRunning()) StopNow();
    }
}

// The descriptors a road waits on: the held signals', the buses' (logind's announcements, the
// portal's answers), and more.
std::vector<pollfd> WaitedOn(std::initializer_list<int> more)
{
    std::vector<pollfd> fds{{platform::SessionSignalFd(), POLLIN, 0}};
    for (int fd : more) fds.push_back({fd, POLLIN, 0});
    platform::SessionWatchPollFds(fds);
    return fds;
}

// Waits until no download runs, taking the signals and logind's announcements meanwhile.
void WaitForDownload()
{
    while (DownloadRunning()) {
        TakeSystemTransitions();
        std::vector<pollfd> fds = WaitedOn({});
        poll(fds.data(), fds.size(), kDownloadPollMs);
        TakeSignals();
    }
    if (stopAsked) StopNow();
}

// What a refused open tells the user: another program writes the controller, this user may not
// open it, or it failed otherwise.
enum class Refusal { HeldByAnotherProgram, NoAccess, Other };

Refusal RefusalOf(platform::Status status)
{
    if (status == platform::Status::Held) return Refusal::HeldByAnotherProgram;
    if (status == platform::Status::Denied) return Refusal::NoAccess;
    return Refusal::Other;
}

// The nodes of the controllers in an update mode whose refused open was told of.
std::set<std::string> refusedNodes;

// Tells why read-write opens failed, once per node and reason: for a controller in an update
// mode the real cause and what to do; a controller in its normal mode needs no access.
void ReportOpenFailures()
{
    std::set<std::pair<std::string, Refusal>> told;
    for (const RefusedOpen& refused : TakeRefusedOpens()) {
        const ControllerKind kind = KindOfController(refused.vendorId, refused.productId);
        if (kind.state != ControllerState::UpdateMode) continue;
        updateModeFound = true;
        const std::string& node = refused.outcome.node;
        refusedNodes.insert(node);
        const Refusal refusal = RefusalOf(refused.outcome.status);
        if (!told.emplace(node, refusal).second) continue;
        const std::string controller = IdsText(refused.vendorId, refused.productId) + " (" + ControllerStateText(kind) + ")";
        switch (refusal) {
        case Refusal::HeldByAnotherProgram:
            TerminalNotice(node + " of " + controller + " is being written by another program: no download started on it");
            break;
        case Refusal::NoAccess:
            TerminalNotice("cannot open " + node + " of " + controller + ": " + refused.outcome.reason);
            TerminalNotice(AccessAdvice(platform::HidAccessOf(node), node));
            break;
        case Refusal::Other:
            TerminalNotice("cannot open " + node + " of " + controller + ": " + refused.outcome.reason);
            break;
        }
    }
}

int Downloads()
{
    const DownloadOutcomes outcomes = CountedOutcomes();
    return outcomes.succeeded + outcomes.failed;
}

// "2 downloads ran: 1 succeeded, 1 failed", "no download ran".
std::string DownloadsText()
{
    const DownloadOutcomes outcomes = CountedOutcomes();
    const int ran = outcomes.succeeded + outcomes.failed + outcomes.stopped;
    if (ran == 0) return "no download ran";
    std::string text = std::to_string(ran) + (ran == 1 ? " download ran: " : " downloads ran: ");
    std::string counts;
    const auto add = [&counts](int count, const char* how) {
        if (count == 0) return;
        if (!counts.empty()) counts += ", ";
        counts += std::to_string(count) + " " + how;
    };
    add(outcomes.succeeded, "succeeded");
    add(outcomes.failed, "failed");
    add(outcomes.stopped, "stopped for a sleep or a shutdown");
    return text + counts;
}

// The exit status once the road has ended; without a download, failing as given. (A signal that
// ended the program ends it again once it has cleaned up: main.cpp.)
int ExitStatus(int withoutDownload)
{
    const DownloadOutcomes outcomes = CountedOutcomes();
    if (outcomes.succeeded + outcomes.failed > 0) return outcomes.failed == 0 ? kExitSucceeded : kExitFailed;
    if (endingSignal != 0) return kExitSignalBase + endingSignal;
    return withoutDownload;
}

// The supported controller in its normal mode that Start found (and would walk the USB topology
// for on Windows), named; false when Start found none.
bool NameNormalModeController()
{
    if (!deviceLink || !deviceLink->found || downloadState.UpdateModeFlag != 0) return false;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    if (!platform::HidGetAttributes(deviceLink->probeHandle, vendorId, productId)) return false;
    TerminalNotice("a supported controller in its normal mode (" + IdsText(vendorId, productId) +
                   ") is left alone: only a controller in an update mode is updated");
    return true;
}

// After Start: the controllers in an update mode that it did not update, each with the command
// that does (Start updates one controller, the first its finders accept, and never one in mode 1,
// which is updated on its arrival). Not the one it wrote (any node of the same USB device), nor one
// whose refused open was told of. True when a controller in mode 1 was named.
bool NameControllersLeft(const std::string& written)
{
    std::vector<platform::HidNode> nodes;
    platform::HidEnumerateNodes(nodes);
    std::set<std::string> devices;  // the USB device node, or the hidraw node off USB
    const auto deviceOf = [](const platform::HidNode& node) {
        return node.usbDeviceNode.empty() ? node.node : node.usbDeviceNode;
    };
    for (const platform::HidNode& node : nodes) {
        if (node.node == written) devices.insert(deviceOf(node));
    }
    bool modeOneNamed = false;
    for (const platform::HidNode& node : nodes) {
        const ControllerKind kind = KindOfController(node.vendorId, node.productId);
        if (kind.state != ControllerState::UpdateMode || refusedNodes.count(node.node) != 0 ||
            (!node.usbDeviceNode.empty() && refusedNodes.count(node.usbDeviceNode) != 0) ||
            !devices.insert(deviceOf(node)).second) {
            continue;
        }
        const std::string controller = "the controller " + IdsText(node.vendorId, node.productId) + " (" + node.node + ")";
        if (kind.mode == 1) {
            TerminalNotice(controller + " is in update mode 1, which is updated on its arrival: "
                                        "'oskel-update --wait' updates it, at once as it is plugged in");
            modeOneNamed = true;
        } else if (!written.empty()) {
            TerminalNotice(controller + " in " + ControllerStateText(kind) +
                           " was not updated: Start updates one controller; 'oskel-update --device=" + node.node +
                           "' updates it");
        }
    }
    return modeOneNamed;
}

// After a resume, the controllers whose download the sleep stopped, as if they had just arrived;
// a node that is queued already, or that udev announces too, is taken once.
void TakeResumedControllers(std::deque<platform::HidNode>& arrived, std::set<std::string>& announcedLater)
{
    const std::vector<StoppedController> stopped = TakeControllersToResume();
    if (stopped.empty()) return;
    std::vector<platform::HidNode> present;
    platform::HidEnumerateNodes(present);
    for (platform::HidNode& node : present) {
        const bool wasStopped = std::any_of(stopped.begin(), stopped.end(), [&node](const StoppedController& controller) {
            return node.vendorId == controller.vendorId && node.productId == controller.productId;
        });
        const bool queued = std::any_of(arrived.begin(), arrived.end(),
                                        [&node](const platform::HidNode& other) { return other.instance == node.instance; });
        if (!wasStopped || queued) continue;
        announcedLater.insert(node.instance);
        arrived.push_back(std::move(node));
    }
}

// Announces every interface (top-level collection) of the node, one after another, as Windows
// announces the interfaces of a device that is plugged in.
void AnnounceNode(const platform::HidNode& node)
{
    for (const std::string& path : node.interfacePaths) {
        DialogInterfaceArrived(TerminalDialog(), path);
    }
}

}  // namespace

int RunStartRoad()
{
    TakeSignals();
    if (endingSignal != 0) return ExitStatus(kExitSignalBase + endingSignal);
    // A controller that an interrupted download left without its driver is found once it is back.
    GiveBackDriverless(true);
    DialogStart(TerminalDialog());
    // Past a controller in its normal mode, Start goes on to the update modes' finders.
    if (!DownloadRunning() && Downloads() == 0 && NameNormalModeController()) {
        TakeSignals();
        if (endingSignal == 0) DialogStartUpdateModeDownload(TerminalDialog());
    }
    updateModeFound = updateModeFound || DownloadRunning() || Downloads() > 0;
    ReportOpenFailures();
    WaitForDownload();
    GiveBackAfterDownload();
    ReportOpenFailures();
    // A signal that came during the search, when no download followed, ends the program too.
    TakeSignals();
    if (endingSignal == 0) {
        const bool wrote = deviceLink && (Downloads() > 0 || CountedOutcomes().stopped > 0);
        const std::string written = wrote ? platform::HidNodeOf(deviceLink->transferHandle) : std::string();
        // A controller in mode 1 was found: not updated, and not "no controller" either.
        if (NameControllersLeft(written)) updateModeFound = true;
    }
    if (!updateModeFound && endingSignal == 0) {
        TerminalNotice("no controller in update mode 2 or 3 was found");
    }
    return ExitStatus(updateModeFound ? kExitFailed : kExitNoController);
}

int EndingSignal() { return endingSignal; }

int RunArrivalRoad(bool once)
{
    std::string error;
    // Where no udev daemon runs, libudev's monitor subscribes to nothing: it would wait in silence.
    if (!platform::HidArrivalsSeen(error)) {
        TerminalNotice("arrivals cannot be seen here: " + error);
        return kExitCouldNotRun;
    }
    if (!platform::HidArrivalMonitorOpen(error)) {
        TerminalNotice("controllers that are plugged in cannot be noticed: " + error);
        return kExitCouldNotRun;
    }
    // Opened before the present nodes are listed, so that none falls between the two; a node
    // that arrived in between is listed and announced by udev too, and is taken once.
    std::deque<platform::HidNode> arrived;
    std::vector<platform::HidNode> present;
    platform::HidEnumerateNodes(present);
    arrived.insert(arrived.end(), present.begin(), present.end());
    std::set<std::string> listedAtStart;
    for (const platform::HidNode& node : present) listedAtStart.insert(node.instance);
    // A controller that an interrupted download left without its driver: its node, given back,
    // arrives as for a controller plugged in.
    GiveBackDriverless(false);

    // A node that arrives while a download runs waits for its end: its interfaces are announced
    // together when no download runs, so that one device starts one download. A controller that
    // cannot be opened (another program writes it, or the user may not) is told of and passed by.
    bool toldWaiting = false;
    bool wasRunning = false;
    for (;;) {
        TakeSignals();
        TakeSystemTransitions();
        TakeResumedControllers(arrived, listedAtStart);
        if (!DownloadRunning()) {
            if (wasRunning) {
                // Once the outcome is shown, before the next download may start.
                GiveBackAfterDownload();
                ReportOpenFailures();
                if (stopAsked) StopNow();
            }
            wasRunning = false;
            if (endingSignal != 0 || (once && Downloads() > 0)) break;
            // While the system is going to sleep or shutting down, no download starts.
            if (!arrived.empty() && !SystemGoingDown()) {
                AnnounceNode(arrived.front());
                arrived.pop_front();
                ReportOpenFailures();
                continue;
            }
            if (!toldWaiting) {
                TerminalNotice("waiting for a controller in an update mode to be plugged in (Ctrl-C ends)");
                toldWaiting = true;
            }
        }
        wasRunning = wasRunning || DownloadRunning();
        std::vector<pollfd> ready = WaitedOn({platform::HidArrivalMonitorFd()});
        poll(ready.data(), ready.size(), DownloadRunning() ? kDownloadPollMs : -1);
        if (ready[1].revents & POLLIN) {
            for (platform::HidNode& node : platform::HidArrivalMonitorReceive()) {
                if (listedAtStart.erase(node.instance) == 0) arrived.push_back(std::move(node));
            }
        }
    }
    platform::HidArrivalMonitorClose();
    if (endingSignal != 0) TerminalNotice(std::string("ended by ") + SignalName(endingSignal) + ": " + DownloadsText());
    return ExitStatus(kExitFailed);
}
