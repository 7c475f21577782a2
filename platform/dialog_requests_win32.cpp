#include "platform/dialog_requests_win32.h"

namespace platform {

namespace {

constexpr wchar_t kReason[] =
    L"Firmware update in progress. Do not turn off the computer or unplug the controller.";

// While a download runs the end of the session is refused (WM_QUERYENDSESSION), and the system
// shows this reason beside the dialog meanwhile.
void ApplySessionEndBlock(HWND dialog, bool blocked)
{
    if (blocked) ShutdownBlockReasonCreate(dialog, kReason);
    else ShutdownBlockReasonDestroy(dialog);
}

// ES_CONTINUOUS keeps the request until this thread changes it: the system does not go to idle
// sleep meanwhile. The display may still turn off.
void ApplyKeepAwake(bool awake)
{
    SetThreadExecutionState(awake ? ES_CONTINUOUS | ES_SYSTEM_REQUIRED : ES_CONTINUOUS);
}

}  // namespace

bool HandleDialogRequest(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case kWmSessionEndBlock:
        ApplySessionEndBlock(dialog, wParam != 0);
        return true;
    case kWmKeepAwake:
        ApplyKeepAwake(wParam != 0);
        return true;
    case kWmShowBoxLater: {
        auto* box = reinterpret_cast<PostedBox*>(lParam);
        if (box == nullptr) return true;
        const PostedBox shown = *box;
        delete box;
        MessageBoxA(dialog, shown.text, shown.caption, shown.flags);
        return true;
    }
    default:
        return false;
    }
}

}  // namespace platform
