// What the worker and the arrival road ask of the dialog's own thread. Some things only the thread
// that owns a window may do (the shutdown block reason belongs to the window; the request to keep
// the system awake belongs to the thread that makes it), and a box must not be shown while the
// dialog handles a system notification: these travel to the dialog as private messages, which
// the dialog procedure hands to HandleDialogRequest.
//
// Any program on the desktop can post a window's messages. So a message carries nothing that the
// dialog acts on but a number: that of a request which this program filed, beforehand, in a queue
// that the dialog owns. The dialog takes the request of that number, once, and ignores a message
// that names none (a message that guesses a filed request's number only brings it forward).
#pragma once

#include <windows.h>

namespace platform {

// WM_APP + 0x65 is the progress message (kWmUpdateProgress).
inline constexpr UINT kWmSessionEndBlock = WM_APP + 0x66;  // block or allow the end of the session
inline constexpr UINT kWmKeepAwake = WM_APP + 0x67;        // keep the system awake, or give that back
inline constexpr UINT kWmShowBoxLater = WM_APP + 0x68;     // show a box (ShowMessageBoxLater)

// One request; its message says which kind it is (lParam carries its number).
struct DialogRequest {
    UINT message;
    bool on = false;                 // block, keep awake (the first two kinds)
    const char* text = nullptr;      // the box (kWmShowBoxLater); string literals
    const char* caption = nullptr;
    unsigned flags = 0;
};

// Sends the request to the dialog and returns once it was handled.
void SendDialogRequest(HWND dialog, const DialogRequest& request);

// Posts the request: the dialog handles it when its message loop gets to it. False when it could
// not be posted; nothing of it is left filed then.
bool PostDialogRequest(HWND dialog, const DialogRequest& request);

// Applies the request that the message names, on the dialog's thread. False for any other message.
bool HandleDialogRequest(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace platform
