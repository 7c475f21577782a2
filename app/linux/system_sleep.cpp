#include "app/linux/system_sleep.h"

#include <time.h>

#include <cstdint>
#include <limits>
#include <mutex>
#include <set>

#include "app/linux/controllers.h"
#include "app/linux/terminal.h"
#include "platform/linux/session_guard.h"
#include "state/download_modes.h"
#include "state/download_state.h"

namespace {

// What the end of a stopped transfer takes after its last report: the next report boundary, the
// end report of protocol 3, mode 1's interface back to usbhid.
constexpr std::uint64_t kEndingUs = 1000000;
constexpr std::uint64_t kUnknown = std::numeric_limits<std::uint64_t>::max();

enum class Coming { Nothing, Sleep, Shutdown };

// The transfer's pace: the bar's range, when it was set, and the last position (protocol 1 sets
// a range for each of its two passes: the time left of the first pass is all it tells then, and
// the delay's end stops the transfer if the second does not fit).
struct Pace {
    int low = 0;
    int high = 10000;  // the range the dialog gives its bar
    std::uint64_t rangeUs = 0;
    int position = 0;
    std::uint64_t positionUs = 0;
};

std::mutex mutex;  // the worker notes the pace and the end, the main loop acts
Pace pace;
Coming coming = Coming::Nothing;
std::uint64_t deadlineUs = 0;  // the transfer may finish until then, in logind's delay
bool resumeDownloads = false;
std::vector<StoppedController> stoppedBySleep;
std::vector<StoppedController> toResume;
std::set<std::string> told;

std::uint64_t NowUs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}

// The time the transfer still needs at its pace so far, or kUnknown before it has moved.
std::uint64_t TimeLeftUs(const Pace& p)
{
    if (p.high <= p.low || p.position <= p.low || p.positionUs <= p.rangeUs) return kUnknown;
    const std::uint64_t done = static_cast<std::uint64_t>(p.position - p.low);
    const std::uint64_t left = p.position < p.high ? static_cast<std::uint64_t>(p.high - p.position) : 0;
    return (p.positionUs - p.rangeUs) * left / done;
}

std::string Seconds(std::uint64_t us) { return std::to_string((us + 500000) / 1000000) + " s"; }

std::string ComingText(Coming what)
{
    return what == Coming::Shutdown ? "the system is shutting down" : "the system is going to sleep";
}

// Logind has announced a sleep or a shutdown while the transfer runs.
void Decide(Coming what)
{
    const std::uint64_t delay = platform::SessionDelayUs();
    const std::uint64_t budget = delay > kEndingUs ? delay - kEndingUs : 0;
    Pace now;
    {
        std::lock_guard<std::mutex> lock(mutex);
        now = pace;
    }
    const std::uint64_t left = TimeLeftUs(now);
    const std::string rest = left == kUnknown ? "the rest of the download" : "the rest of the download (about " + Seconds(left) + ")";
    if (left <= budget) {
        TerminalNotice(ComingText(what) + ": " + rest + " fits in the " + Seconds(delay) +
                       " that logind waits: it is finished first");
        std::lock_guard<std::mutex> lock(mutex);
        deadlineUs = NowUs() + budget;
        return;
    }
    TerminalNotice(ComingText(what) + ": " + rest + " does not fit in the " + Seconds(delay) +
                   " that logind waits: it stops between two reports");
    downloadState.stopAsked = 1;
}

// What became of the controller of a stopped download, and what to do.
std::string StoppedText(std::int32_t stopped, Coming what, const std::string& controller)
{
    std::string text = stopped == kStoppedBeforeWriting
                           ? "nothing of the download had been written: the controller " + controller + " keeps its old firmware"
                           : "the download was stopped: the controller " + controller +
                                 " is left in its update mode, partly written";
    if (what == Coming::Sleep && resumeDownloads) return text + ": it is updated again once the system has resumed";
    const char* after = what == Coming::Sleep ? "after the resume" : "after the restart";
    if (stopped == kStoppedBeforeWriting) return text + ": run oskel-update again " + after;
    return text + ": " + after + ", unplug it, plug it in again and run oskel-update again";
}

}  // namespace

void SetResumeDownloads(bool resume) { resumeDownloads = resume; }

void NoteTransferStarted()
{
    downloadState.stopAsked = 0;
    downloadState.stopped = kNotStopped;
    std::lock_guard<std::mutex> lock(mutex);
    pace = Pace{};
    pace.rangeUs = NowUs();
    deadlineUs = 0;
}

void NoteTransferRange(int low, int high)
{
    std::lock_guard<std::mutex> lock(mutex);
    pace.low = low;
    pace.high = high;
    pace.rangeUs = NowUs();
    pace.position = low;
    pace.positionUs = pace.rangeUs;
}

void NoteTransferPosition(int position)
{
    std::lock_guard<std::mutex> lock(mutex);
    pace.position = position;
    pace.positionUs = NowUs();
}

void NoteDownloadEnded()
{
    const std::int32_t stopped = downloadState.stopped;
    std::lock_guard<std::mutex> lock(mutex);
    deadlineUs = 0;
    if (stopped == kNotStopped) return;
    const DownloadModeFacts* facts = FactsOfMode(downloadState.mode);
    if (facts == nullptr) return;
    TerminalNotice(StoppedText(stopped, coming, IdsText(facts->vendorId, facts->productId)));
    if (coming == Coming::Sleep && resumeDownloads) stoppedBySleep.push_back({facts->vendorId, facts->productId});
}

void TellNotHeld(const std::vector<std::string>& notHeld)
{
    for (const std::string& what : notHeld) {
        if (told.insert(what).second) TerminalNotice("not held during the download: " + what);
    }
}

void TakeSystemTransitions()
{
    std::vector<std::string> refused;
    const platform::SystemTransition transition = platform::SessionWatchTake(refused);
    TellNotHeld(refused);
    if (transition == platform::SystemTransition::SleepComing || transition == platform::SystemTransition::ShutdownComing) {
        const Coming what = transition == platform::SystemTransition::SleepComing ? Coming::Sleep : Coming::Shutdown;
        {
            std::lock_guard<std::mutex> lock(mutex);
            coming = what;
        }
        if (downloadState.transferRunning != 0 && downloadState.stopAsked == 0) Decide(what);
    } else if (transition == platform::SystemTransition::Resumed) {
        std::lock_guard<std::mutex> lock(mutex);
        coming = Coming::Nothing;
        toResume.insert(toResume.end(), stoppedBySleep.begin(), stoppedBySleep.end());
        stoppedBySleep.clear();
    }
    bool late = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        late = deadlineUs != 0 && NowUs() >= deadlineUs;
        if (late) deadlineUs = 0;
    }
    if (late && downloadState.transferRunning != 0 && downloadState.stopAsked == 0) {
        TerminalNotice("the download has not finished in logind's delay: it stops between two reports");
        downloadState.stopAsked = 1;
    }
}

bool SystemGoingDown()
{
    std::lock_guard<std::mutex> lock(mutex);
    return coming != Coming::Nothing;
}

std::vector<StoppedController> TakeControllersToResume()
{
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<StoppedController> controllers;
    controllers.swap(toResume);
    return controllers;
}
