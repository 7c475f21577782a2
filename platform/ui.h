// What the application logic, the worker and the protocols need of the window system.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace platform {

// Message box flags, as the platform defines them.
inline constexpr unsigned kMbOk = 0x00;
inline constexpr unsigned kMbIconError = 0x10;
inline constexpr unsigned kMbIconInformation = 0x40;

// The private message that moves the dialog's progress bar (lParam: the position).
inline constexpr unsigned kWmUpdateProgress = 0x8065;

// Sends (never posts) the progress message to a window and waits until it was handled.
void SendProgress(WindowHandle window, std::int32_t position);

// Shows a message box owned by owner and waits until the user dismisses it.
// The texts are in the ANSI code page (English texts).
void ShowMessageBox(WindowHandle owner, const char* text, const char* caption, unsigned flags);

// The same for texts stored in code page 936; they are shown through the wide-character
// call so that they read correctly whatever the system's code page.
void ShowMessageBoxCp936(WindowHandle owner, const char* text, const char* caption,
                         unsigned flags);

// While a download runs, the end of the user's session (shutdown, restart, log-off) would kill it
// and leave the controller half-written: the dialog then refuses the end of the session and gives
// the system its reason. Blocked at the start of a download, on the user-interface thread; allowed
// again at its end, from the worker.
void SetSessionEndBlocked(WindowHandle dialog, bool blocked);

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
