// The user interface of the simulated world: a dialog view that records what the updater shows
// and answers every message box with OK.
#include <cstring>

#include "platform/linux/text.h"
#include "platform/ui.h"
#include "sim/world.h"

namespace platform {
namespace {

constexpr int kProgressBarId = 1008;

std::intptr_t IdOf(WindowHandle window) { return reinterpret_cast<std::intptr_t>(window); }
std::intptr_t DialogId() { return IdOf(sim::kDialogWindow); }

}  // namespace

void DownloadEnded(WindowHandle dialog, DownloadOutcome outcome)
{
    if (IdOf(dialog) == DialogId()) sim::RecordDownloadOutcome(outcome);
}

// The simulated world shows nothing of an open that failed beyond the trace's open line and the
// debugger line the dialog writes.
void ControllerNotOpened(std::uint16_t, std::uint16_t, const Outcome&) {}

void SendProgress(WindowHandle window, std::int32_t position)
{
    // Only the dialog handles the progress message; sent anywhere else it has no effect.
    if (IdOf(window) == DialogId()) sim::RecordProgress(position);
}

void ShowMessageBox(WindowHandle, const char* text, const char* caption, unsigned flags)
{
    sim::RecordMessageBox({caption ? caption : "", text ? text : "", flags});
}

void ShowMessageBoxCp936(WindowHandle, const char* text, const char* caption, unsigned flags)
{
    sim::RecordMessageBox({Cp936ToUtf8(caption ? caption : ""), Cp936ToUtf8(text ? text : ""), flags});
}

void SetSessionEndBlocked(WindowHandle dialog, bool blocked)
{
    if (IdOf(dialog) == DialogId()) sim::RecordSessionEndBlocked(blocked);
}

void ShowMessageBoxLater(WindowHandle, const char* text, const char* caption, unsigned flags)
{
    sim::RecordMessageBoxPosted({caption ? caption : "", text ? text : "", flags});
}

void KeepSystemAwake(WindowHandle dialog, bool awake)
{
    if (IdOf(dialog) == DialogId()) sim::RecordSystemKeptAwake(awake);
}

void FocusDialogItem(WindowHandle dialog, int id)
{
    if (IdOf(dialog) == DialogId()) sim::RecordFocus(id);
}

void SetChildControlsEnabled(WindowHandle, bool enable) { sim::RecordControls(enable); }

WindowHandle GetDialogItem(WindowHandle dialog, int id)
{
    if (IdOf(dialog) != DialogId() || id != kProgressBarId) return nullptr;
    return reinterpret_cast<WindowHandle>(DialogId() + id);
}

WindowHandle GetParentWindow(WindowHandle window)
{
    return IdOf(window) == DialogId() + kProgressBarId ? sim::kDialogWindow : nullptr;
}

bool IsWindowAlive(WindowHandle window)
{
    return IdOf(window) == DialogId() || IdOf(window) == DialogId() + kProgressBarId;
}

void ShowWindowNow(WindowHandle window)
{
    if (IdOf(window) == DialogId() + kProgressBarId) sim::RecordBarShown();
}

void ProgressBarSetRange(WindowHandle bar, std::uint16_t low, std::uint16_t high)
{
    if (IdOf(bar) == DialogId() + kProgressBarId) sim::RecordBarRange(low, high);
}

void ProgressBarSetPos(WindowHandle bar, std::int32_t position)
{
    if (IdOf(bar) == DialogId() + kProgressBarId) sim::RecordBarPos(position);
}

}  // namespace platform
