// Refusing the end of the user's session (shutdown, restart, log-off) while a download runs, and
// giving the system the reason it shows the user meanwhile.
#pragma once

#include <windows.h>

namespace platform {

// Sent to the dialog by SetSessionEndBlocked: only the thread that owns a window may set or
// remove its reason. wParam: 1 to block, 0 to allow.
inline constexpr UINT kWmSessionEndBlock = WM_APP + 0x66;

// Sets (blocked) or removes the dialog's reason for refusing the end of the session. Called on
// the thread that owns the dialog. Systems before Windows Vista have no such reason; there it
// does nothing.
void ApplySessionEndBlock(HWND dialog, bool blocked);

}  // namespace platform
