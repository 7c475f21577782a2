// What the worker and the arrival road ask of the dialog's own thread. Some things only the thread
// that owns a window may do (the shutdown block reason belongs to the window; the request to keep
// the system awake belongs to the thread that makes it), and a box must not be shown while the
// dialog handles a system notification: these travel to the dialog as private messages, which
// the dialog procedure hands to HandleDialogRequest.
#pragma once

#include <windows.h>

namespace platform {

// WM_APP + 0x65 is the progress message (kWmUpdateProgress).
inline constexpr UINT kWmSessionEndBlock = WM_APP + 0x66;  // wParam: 1 to block, 0 to allow
inline constexpr UINT kWmKeepAwake = WM_APP + 0x67;        // wParam: 1 to keep awake, 0 to give back
inline constexpr UINT kWmShowBoxLater = WM_APP + 0x68;     // lParam: the box, posted by ShowMessageBoxLater

// A box posted to be shown once the notification being handled has returned. Its texts are
// string literals; the record itself is the dialog's to delete.
struct PostedBox {
    const char* text;
    const char* caption;
    unsigned flags;
};

// Applies one of the requests above on the dialog's thread. False for any other message.
bool HandleDialogRequest(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace platform
