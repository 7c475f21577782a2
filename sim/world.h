// Time, threads and the user's side of the dialog in the simulated world.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/types.h"
#include "platform/ui.h"

namespace sim {

// Simulated time runs timeScale times faster than real time for pauses and time limits:
// a 1000 ms pause takes 1000 / timeScale real milliseconds. Tests use a large scale so that
// time limits run out quickly; oskel-sim uses 1 unless told otherwise.
void SetTimeScale(std::uint32_t scale);
std::uint32_t TimeScale();
// Blocks for ms of simulated time.
void WaitSimulated(std::uint32_t ms);

// The tick count the updater reads. By default it follows the real clock; tests may fix it.
void SetFixedTickCount(std::uint32_t ticks);
void ClearFixedTickCount();

// Threads started through the seam.
void SetThreadCreationFails(bool fails);
// Waits until every thread started through the seam has ended (false after timeoutMs).
bool WaitForThreads(std::uint32_t timeoutMs = 60000);
int RunningThreads();

// The dialog as the simulated user interface keeps it.
inline platform::WindowHandle const kDialogWindow = reinterpret_cast<platform::WindowHandle>(0x1000);

struct MessageBoxRecord {
    std::string caption;  // UTF-8
    std::string text;     // UTF-8
    unsigned flags;
};

struct DialogView {
    std::int32_t barLow = 0;
    std::int32_t barHigh = 10000;
    std::int32_t barPos = 0;
    bool barVisible = true;
    bool controlsEnabled = true;
    bool sessionEndBlocked = false;
    bool systemKeptAwake = false;
    int focusedItem = 0;  // the control last given the keyboard focus (0: none yet)
    std::vector<std::int32_t> progress;  // every progress message, in order
    std::vector<MessageBoxRecord> boxes;
    std::vector<platform::DownloadOutcome> outcomes;  // every outcome the updater handed over
    std::vector<std::string> debugLines;
};

// Resets the dialog view and the hooks.
void ResetDialogView();
DialogView Dialog();

// The dialog's message loop going on after a notification returned: shows, in order, the boxes
// that were posted to be shown later. Whatever hands the dialog a notification (tests, oskel-sim)
// calls it afterwards.
void DeliverPostedMessages();

// Called (on the worker thread) while a message box is shown, before it is answered with OK.
void SetMessageBoxHook(std::function<void(const MessageBoxRecord&)> hook);
// Called after each progress message.
void SetProgressHook(std::function<void(std::int32_t)> hook);

// Echo of boxes, debugger lines and progress to standard output (oskel-sim).
void SetConsoleEcho(bool echo);

// Replaces the embedded image resource id for the tests: bytes, or missing when null.
// ClearImageResourceOverrides restores the embedded images.
void OverrideImageResource(int id, const std::vector<std::uint8_t>* bytes);
void ClearImageResourceOverrides();

// For the simulated backends of the seam: they report what the updater did here, and the
// dialog view, the trace and the console echo follow.
bool TickCountIsFixed(std::uint32_t& ticks);
bool ThreadStarting();  // false when thread creation is set to fail
void ThreadEnded();
void RecordProgress(std::int32_t position);
void RecordMessageBox(const MessageBoxRecord& box);
void RecordDownloadOutcome(platform::DownloadOutcome outcome);
void RecordDebugLine(const std::string& text);
void RecordBarRange(std::int32_t low, std::int32_t high);
void RecordBarPos(std::int32_t position);
void RecordBarShown();
void RecordControls(bool enabled);
void RecordSessionEndBlocked(bool blocked);
void RecordSystemKeptAwake(bool awake);
void RecordFocus(int id);
void RecordMessageBoxPosted(const MessageBoxRecord& box);
void RecordSleep(std::uint32_t ms);

}  // namespace sim
