// The dialog's window work in the terminal program, the front end's side of the seam: boxes
// become lines on standard output, the progress bar a bar on the terminal (or progress lines), each
// download's outcome is counted for the exit status, the refusal to let the session end becomes
// the session guard (held-off signals, logind's locks, the desktop portal's inhibition), and the
// debugger output channel is standard error, when --verbose asked for it.
#include "platform/ui.h"

#include "app/linux/outcomes.h"
#include "app/linux/system_sleep.h"
#include "app/linux/terminal.h"
#include "platform/linux/hid_usb.h"
#include "platform/linux/session_guard.h"
#include "platform/linux/text.h"
#include "platform/system.h"
#include "state/download_state.h"

namespace platform {
namespace {

constexpr int kProgressBarId = 1008;  // the dialog's IDC_PROGRESS

bool IsDialog(WindowHandle window) { return window == TerminalDialog(); }
bool IsBar(WindowHandle window) { return window == TerminalProgressBar(); }

}  // namespace

// The transfer's progress messages also tell its pace (app/linux/system_sleep.h); the bar's return
// to 0 after the outcome does not, nor a position set directly with a new range.
void SendProgress(WindowHandle window, std::int32_t position)
{
    if (!IsDialog(window)) return;
    TerminalProgressPosition(position);
    if (downloadState.transferRunning != 0) NoteTransferPosition(position);
}

void DownloadEnded(WindowHandle dialog, DownloadOutcome outcome)
{
    if (!IsDialog(dialog)) return;
    // A transfer that a sleep or a shutdown stopped is told of first, while the locks still hold
    // the system. The controller's USB interfaces that the transfer took from usbhid go back once
    // the outcome is shown (app/linux/give_back.h), and the session guard is let go only after
    // them; where the transfer took none, it is let go now.
    NoteDownloadEnded();
    if (!UsbInterfacesClaimed()) SessionGuardRelease();
    // The download is over: the bar's return to 0 that follows is not progress.
    TerminalProgressShown(false);
    if (downloadState.stopped != kNotStopped) CountStoppedDownload();
    else CountDownloadOutcome(outcome);
}

// Only a refusal that names its node is one to tell the user of: an open that failed for want of
// an interface path, or a request that failed once its interface was claimed, is not.
void ControllerNotOpened(std::uint16_t vendorId, std::uint16_t productId, const Outcome& outcome)
{
    if (!outcome.done() && !outcome.node.empty()) KeepRefusedOpen(vendorId, productId, outcome);
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
        NoteTransferStarted();
        TellNotHeld(SessionGuardEngage());
        TerminalProgressShown(true);
    } else {
        // The transfer has ended. What it took of the system goes back in this order: this, the
        // session guard with the download's outcome (DownloadEnded), the outcome's line, then the
        // controller's USB interfaces back to usbhid (with the session guard, where they were
        // taken), before another download may start.
        TerminalProgressShown(false);
    }
}

// The session guard's locks cover sleep as well as shutdown: they are taken with the session-end
// block and let go with the download's outcome.
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
    if (!IsBar(bar)) return;
    TerminalProgressRange(low, high);
    if (downloadState.transferRunning != 0) NoteTransferRange(low, high);
}

void ProgressBarSetPos(WindowHandle bar, std::int32_t position)
{
    if (IsBar(bar)) TerminalProgressPosition(position);
}

void DebugOutput(const char* text)
{
    TerminalDebugLine(text);
}

}  // namespace platform
