// The dialog's window work for the worker and the protocols, through user32.
#include "platform/ui.h"

#include <windows.h>
#include <commctrl.h>

#include <vector>

#include "platform/win32/dialog_requests.h"

namespace platform {

namespace {

HWND ToWindow(WindowHandle window) { return static_cast<HWND>(window); }

BOOL CALLBACK EnableOne(HWND child, LPARAM enable)
{
    EnableWindow(child, enable != 0);
    return TRUE;  // every child, hidden ones and descendants included
}

// text in code page 936 as UTF-16; empty when it cannot be converted.
std::vector<wchar_t> FromCp936(const char* text)
{
    int length = MultiByteToWideChar(936, 0, text, -1, nullptr, 0);
    if (length <= 0) return {};
    std::vector<wchar_t> wide(static_cast<std::size_t>(length), L'\0');
    if (MultiByteToWideChar(936, 0, text, -1, wide.data(), length) != length) return {};
    return wide;
}

}  // namespace

// The dialog shows an outcome as its box only, and a controller it could not open in its debugger
// output only.
void DownloadEnded(WindowHandle, DownloadOutcome) {}
void ControllerNotOpened(std::uint16_t, std::uint16_t, const Outcome&) {}

void SendProgress(WindowHandle window, std::int32_t position)
{
    SendMessageA(ToWindow(window), kWmUpdateProgress, 0, static_cast<LPARAM>(position));
}

void ShowMessageBox(WindowHandle owner, const char* text, const char* caption, unsigned flags)
{
    MessageBoxA(ToWindow(owner), text, caption, flags);
}

void ShowMessageBoxCp936(WindowHandle owner, const char* text, const char* caption, unsigned flags)
{
    std::vector<wchar_t> wideText = FromCp936(text);
    std::vector<wchar_t> wideCaption = FromCp936(caption);
    if (wideText.empty() || wideCaption.empty()) {
        MessageBoxA(ToWindow(owner), text, caption, flags);
        return;
    }
    MessageBoxW(ToWindow(owner), wideText.data(), wideCaption.data(), flags);
}

void ShowMessageBoxLater(WindowHandle owner, const char* text, const char* caption, unsigned flags)
{
    // A box that cannot be posted (the message queue is full) is shown at once rather than never.
    if (PostDialogRequest(ToWindow(owner), {kWmShowBoxLater, false, text, caption, flags})) return;
    MessageBoxA(ToWindow(owner), text, caption, flags);
}

void SetSessionEndBlocked(WindowHandle dialog, bool blocked)
{
    SendDialogRequest(ToWindow(dialog), {kWmSessionEndBlock, blocked});
}

void KeepSystemAwake(WindowHandle dialog, bool awake)
{
    SendDialogRequest(ToWindow(dialog), {kWmKeepAwake, awake});
}

void FocusDialogItem(WindowHandle dialog, int id)
{
    // Sent, so that the dialog's own thread moves the focus (through the default dialog
    // handling, which also makes the button the default one).
    HWND control = GetDlgItem(ToWindow(dialog), id);
    if (control != nullptr) SendMessageA(ToWindow(dialog), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

void SetChildControlsEnabled(WindowHandle dialog, bool enable)
{
    EnumChildWindows(ToWindow(dialog), EnableOne, enable ? 1 : 0);
}

WindowHandle GetDialogItem(WindowHandle dialog, int id)
{
    return GetDlgItem(ToWindow(dialog), id);
}

WindowHandle GetParentWindow(WindowHandle window)
{
    return GetParent(ToWindow(window));
}

bool IsWindowAlive(WindowHandle window)
{
    return window != nullptr && IsWindow(ToWindow(window));
}

void ShowWindowNow(WindowHandle window)
{
    ShowWindow(ToWindow(window), SW_SHOW);
}

void ProgressBarSetRange(WindowHandle bar, std::uint16_t low, std::uint16_t high)
{
    SendMessageA(ToWindow(bar), PBM_SETRANGE, 0, MAKELPARAM(low, high));
}

void ProgressBarSetPos(WindowHandle bar, std::int32_t position)
{
    SendMessageA(ToWindow(bar), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

}  // namespace platform
