// The dialog's window work in the terminal program: boxes become lines on standard output, the
// progress bar a bar on the terminal (or progress lines), and the refusal to let the session end
// becomes the session guard (held-off signals, a logind inhibitor).
#include "platform/ui.h"

#include "platform/hid_usb_linux.h"
#include "platform/session_guard_linux.h"
#include "platform/terminal_linux.h"
#include "platform/text_linux.h"

namespace platform {
namespace {

constexpr int kProgressBarId = 1008;  // the dialog's IDC_PROGRESS

bool IsDialog(WindowHandle window) { return window == TerminalDialog(); }
bool IsBar(WindowHandle window) { return window == TerminalProgressBar(); }

}  // namespace

void SendProgress(WindowHandle window, std::int32_t position)
{
    if (IsDialog(window)) TerminalProgressPosition(position);
}

void DownloadEnded(WindowHandle dialog, DownloadOutcome outcome)
{
    if (!IsDialog(dialog)) return;
    // The download is over: the bar's return to 0 that follows is not progress.
    TerminalProgressShown(false);
    TerminalCountOutcome(outcome == DownloadOutcome::Succeeded);
}

void ShowMessageBox(WindowHandle, const char* text, const char*, unsigned)
{
    if (text != nullptr) TerminalShowLine(text);
}

void ShowMessageBoxCp936(WindowHandle, const char* text, const char*, unsigned)
{
    if (text != nullptr) TerminalShowLine(Cp936ToUtf8(text));
}

// A line keeps nobody waiting: the terminal shows it at once.
void ShowMessageBoxLater(WindowHandle owner, const char* text, const char* caption, unsigned flags)
{
    ShowMessageBox(owner, text, caption, flags);
}

void SetSessionEndBlocked(WindowHandle dialog, bool blocked)
{
    if (!IsDialog(dialog)) return;
    if (blocked) {
        SessionGuardEngage();
        TerminalProgressShown(true);
    } else {
        TerminalProgressShown(false);
        // The interfaces the download took from usbhid go back before anything else may start:
        // the outcome has been shown already, as usbhid's probe of a controller that answers
        // nothing takes its own time limits.
        UsbGiveBackInterfaces();
        SessionGuardRelease();
    }
}

// The session guard's logind inhibitor covers sleep as well as shutdown ("sleep:shutdown"): it is
// taken and let go with the session-end block.
void KeepSystemAwake(WindowHandle, bool) {}

void SetChildControlsEnabled(WindowHandle, bool) {}  // a terminal has no controls to disable

void FocusDialogItem(WindowHandle, int) {}  // nor a keyboard focus
void EndDialogLater(WindowHandle) {}        // nor a close that Windows asks for

WindowHandle GetDialogItem(WindowHandle dialog, int id)
{
    return IsDialog(dialog) && id == kProgressBarId ? TerminalProgressBar() : nullptr;
}

WindowHandle GetParentWindow(WindowHandle window)
{
    return IsBar(window) ? TerminalDialog() : nullptr;
}

bool IsWindowAlive(WindowHandle window) { return IsDialog(window) || IsBar(window); }

void ShowWindowNow(WindowHandle) {}

void ProgressBarSetRange(WindowHandle bar, std::uint16_t low, std::uint16_t high)
{
    if (IsBar(bar)) TerminalProgressRange(low, high);
}

void ProgressBarSetPos(WindowHandle bar, std::int32_t position)
{
    if (IsBar(bar)) TerminalProgressPosition(position);
}

}  // namespace platform
