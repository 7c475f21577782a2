// What the application logic, the worker and the protocols need of the window system.
#pragma once

#include <cstdint>

#include "platform/outcome.h"
#include "platform/types.h"

namespace platform {

// Message box flags, as the platform defines them.
inline constexpr unsigned kMbOk = 0x00;
inline constexpr unsigned kMbIconError = 0x10;
inline constexpr unsigned kMbIconInformation = 0x40;

// The private message that moves the dialog's progress bar (lParam: the position).
inline constexpr unsigned kWmUpdateProgress = 0x8065;

// How a download ended.
enum class DownloadOutcome { Succeeded, Failed };

// A download has ended with this outcome, which its outcome box is about to show. A front end
// that acts on outcomes (the terminal program's exit status, the simulator) takes it here, as a
// value; the dialog shows it only as the box.
void DownloadEnded(WindowHandle dialog, DownloadOutcome outcome);

// A controller with these ids could not be opened for reading and writing, or its interface not
// claimed for the class requests of its download, for this reason (the outcome names the node).
// The dialog has told the debugger output already; a front end that tells its user why and what
// to do (the terminal program) takes it here, as a value.
void ControllerNotOpened(std::uint16_t vendorId, std::uint16_t productId, const Outcome& outcome);

// Sends (never posts) the progress message to a window and waits until it was handled.
void SendProgress(WindowHandle window, std::int32_t position);

// Shows a message box owned by owner and waits until the user dismisses it.
// The texts are in the ANSI code page (English texts).
void ShowMessageBox(WindowHandle owner, const char* text, const char* caption, unsigned flags);

// The same for texts stored in code page 936; they are shown through the wide-character
// call so that they read correctly whatever the system's code page.
void ShowMessageBoxCp936(WindowHandle owner, const char* text, const char* caption,
                         unsigned flags);

// The same, shown once the notification the dialog is handling has returned: a box shown while
// the dialog handles a system notification (WM_DEVICECHANGE) keeps the system's notification
// waiting until the user dismisses it. The texts must stay valid for the life of the process
// (string literals).
void ShowMessageBoxLater(WindowHandle owner, const char* text, const char* caption, unsigned flags);

// While a transfer runs, the end of the user's session (shutdown, restart, log-off) would kill it
// and leave the controller half-written: the dialog then refuses the end of the session and gives
// the system its reason. Blocked at the start of a download, on the user-interface thread; allowed
// again from the worker as soon as the transfer has ended, before the result box.
void SetSessionEndBlocked(WindowHandle dialog, bool blocked);

// Idle sleep would cut a transfer off just the same, and a download that a controller's arrival
// started runs with nobody at the keyboard: the system is kept awake while a transfer runs. Set
// and given back from the same points as the session-end block, on the thread that owns the
// dialog, which holds the request.
void KeepSystemAwake(WindowHandle dialog, bool awake);

// Gives the keyboard focus to one of the dialog's controls, on the thread that owns the dialog.
// The worker disables the controls, the focused Start button among them, which leaves no control
// with the focus once they are enabled again.
void FocusDialogItem(WindowHandle dialog, int id);

// Enables or disables every child window of the dialog, descendants and hidden ones included.
void SetChildControlsEnabled(WindowHandle dialog, bool enable);

// Window queries and the direct progress-bar operations used by protocol 1.
WindowHandle GetDialogItem(WindowHandle dialog, int id);
WindowHandle GetParentWindow(WindowHandle window);
bool IsWindowAlive(WindowHandle window);
void ShowWindowNow(WindowHandle window);
void ProgressBarSetRange(WindowHandle bar, std::uint16_t low, std::uint16_t high);
void ProgressBarSetPos(WindowHandle bar, std::int32_t position);

}  // namespace platform
