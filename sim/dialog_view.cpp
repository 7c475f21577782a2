// The dialog as the simulated user sees it: bar, controls, boxes and debugger output.
#include <cstdio>
#include <mutex>

#include "sim/trace.h"
#include "sim/world.h"

namespace sim {
namespace {

std::mutex viewMutex;
DialogView view;
std::function<void(const MessageBoxRecord&)> boxHook;
std::function<void(std::int32_t)> progressHook;
std::vector<MessageBoxRecord> postedBoxes;
bool consoleEcho = false;
bool barLineOpen = false;  // the console's last line is a progress bar without its newline

void DrawBar(std::int32_t position)
{
    if (!consoleEcho) return;
    const std::int32_t span = view.barHigh - view.barLow;
    int filled = span > 0 ? static_cast<int>(40LL * (position - view.barLow) / span) : 0;
    if (filled < 0) filled = 0;
    if (filled > 40) filled = 40;
    std::printf("\r[%-40.*s] %6d", filled, "========================================", position);
    std::fflush(stdout);
    barLineOpen = true;
}

void EndBarLine()
{
    if (consoleEcho && barLineOpen) std::printf("\n");
    barLineOpen = false;
}

// Debugger lines may carry their own newline; the trace writes it as "\n".
std::string Escaped(const std::string& text)
{
    std::string escaped;
    for (char c : text) {
        if (c == '\n') escaped += "\\n";
        else if (c == '\r') escaped += "\\r";
        else escaped.push_back(c);
    }
    return escaped;
}

}  // namespace

void ResetDialogView()
{
    std::lock_guard<std::mutex> lock(viewMutex);
    view = DialogView{};
    postedBoxes.clear();
    boxHook = nullptr;
    progressHook = nullptr;
}

DialogView Dialog()
{
    std::lock_guard<std::mutex> lock(viewMutex);
    return view;
}

void SetMessageBoxHook(std::function<void(const MessageBoxRecord&)> hook)
{
    std::lock_guard<std::mutex> lock(viewMutex);
    boxHook = std::move(hook);
}

void SetProgressHook(std::function<void(std::int32_t)> hook)
{
    std::lock_guard<std::mutex> lock(viewMutex);
    progressHook = std::move(hook);
}

void SetConsoleEcho(bool echo)
{
    std::lock_guard<std::mutex> lock(viewMutex);
    if (!echo) EndBarLine();
    consoleEcho = echo;
}

void RecordProgress(std::int32_t position)
{
    std::function<void(std::int32_t)> hook;
    {
        std::lock_guard<std::mutex> lock(viewMutex);
        view.progress.push_back(position);
        view.barPos = position;
        hook = progressHook;
        DrawBar(position);
    }
    TraceLine("progress " + std::to_string(position));
    if (hook) hook(position);
}

void RecordDownloadOutcome(platform::DownloadOutcome outcome)
{
    std::lock_guard<std::mutex> lock(viewMutex);
    view.outcomes.push_back(outcome);
}

void RecordMessageBox(const MessageBoxRecord& box)
{
    std::function<void(const MessageBoxRecord&)> hook;
    {
        std::lock_guard<std::mutex> lock(viewMutex);
        view.boxes.push_back(box);
        hook = boxHook;
        if (consoleEcho) {
            EndBarLine();
            std::printf("[%s] %s\n", box.caption.c_str(), box.text.c_str());
            std::fflush(stdout);
        }
    }
    TraceLine("message " + box.caption + " | " + box.text);
    if (hook) hook(box);
}

void RecordDebugLine(const std::string& text)
{
    {
        std::lock_guard<std::mutex> lock(viewMutex);
        view.debugLines.push_back(text);
        if (consoleEcho) {
            EndBarLine();
            std::string shown = text;
            while (!shown.empty() && shown.back() == '\n') shown.pop_back();
            std::printf("debug: %s\n", shown.c_str());
        }
    }
    TraceLine("debug " + Escaped(text));
}

void RecordBarRange(std::int32_t low, std::int32_t high)
{
    {
        std::lock_guard<std::mutex> lock(viewMutex);
        view.barLow = low;
        view.barHigh = high;
    }
    TraceLine("bar-range " + std::to_string(low) + " " + std::to_string(high));
}

void RecordBarPos(std::int32_t position)
{
    {
        std::lock_guard<std::mutex> lock(viewMutex);
        view.barPos = position;
        DrawBar(position);
    }
    TraceLine("bar-pos " + std::to_string(position));
}

void RecordBarShown()
{
    {
        std::lock_guard<std::mutex> lock(viewMutex);
        view.barVisible = true;
    }
    TraceLine("bar-show");
}

void RecordControls(bool enabled)
{
    {
        std::lock_guard<std::mutex> lock(viewMutex);
        view.controlsEnabled = enabled;
        EndBarLine();
    }
    TraceLine(std::string("controls ") + (enabled ? "enabled" : "disabled"));
}

void RecordSessionEndBlocked(bool blocked)
{
    {
        std::lock_guard<std::mutex> lock(viewMutex);
        view.sessionEndBlocked = blocked;
    }
    TraceLine(std::string("session-end ") + (blocked ? "blocked" : "allowed"));
}

void RecordSystemKeptAwake(bool awake)
{
    {
        std::lock_guard<std::mutex> lock(viewMutex);
        view.systemKeptAwake = awake;
    }
    TraceLine(std::string("awake ") + (awake ? "held" : "released"));
}

void RecordFocus(int id)
{
    {
        std::lock_guard<std::mutex> lock(viewMutex);
        view.focusedItem = id;
    }
    TraceLine("focus " + std::to_string(id));
}

void RecordMessageBoxPosted(const MessageBoxRecord& box)
{
    {
        std::lock_guard<std::mutex> lock(viewMutex);
        postedBoxes.push_back(box);
    }
    TraceLine("message-posted " + box.caption + " | " + box.text);
}

void DeliverPostedMessages()
{
    for (;;) {
        MessageBoxRecord box;
        {
            std::lock_guard<std::mutex> lock(viewMutex);
            if (postedBoxes.empty()) return;
            box = postedBoxes.front();
            postedBoxes.erase(postedBoxes.begin());
        }
        RecordMessageBox(box);
    }
}

void RecordSleep(std::uint32_t ms) { TraceLine("sleep " + std::to_string(ms)); }

}  // namespace sim
