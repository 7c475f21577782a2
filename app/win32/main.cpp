// The program's entry point and the main dialog's window procedure. The decisions live in
// dialog_logic; this file does the window work around them.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <dbt.h>

#include <string>

#include "app/dialog_ids.h"
#include "app/dialog_logic.h"
#include "platform/win32/hid_class.h"
#include "platform/win32/dialog_requests.h"
#include "platform/win32/system_error.h"
#include "platform/win32/sim_hook.h"
#include "platform/win32/system_library.h"
#include "platform/system.h"
#include "platform/ui.h"

namespace {

constexpr COLORREF kBannerTextColour = 0x00FF0000;
constexpr COLORREF kBarColour = 0x00FF0000;
constexpr int kBarRangeHigh = 10000;

HINSTANCE instance = nullptr;
HDEVNOTIFY deviceNotification = nullptr;

// The progress bar's window class lives in comctl32, which is loaded from the system
// directory and asked to register the class before the dialog is created.
void RegisterProgressBarClass()
{
    using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    HMODULE comctl = platform::LoadSystemLibrary("comctl32.dll");
    if (comctl == nullptr) return;
    auto init = reinterpret_cast<InitFn>(
        reinterpret_cast<void*>(GetProcAddress(comctl, "InitCommonControlsEx")));
    if (init == nullptr) return;
    INITCOMMONCONTROLSEX classes{};
    classes.dwSize = sizeof(classes);
    classes.dwICC = ICC_PROGRESS_CLASS;
    init(&classes);
}

void RegisterForHidArrivals(HWND dialog)
{
    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = platform::HidInterfaceClassGuid();
    deviceNotification = RegisterDeviceNotificationA(dialog, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (deviceNotification == nullptr) {
        // Without it no controller that is plugged in starts its download by itself.
        const std::string line = "RegisterDeviceNotificationA: " + platform::SystemErrorText(GetLastError()) +
                                 "; controllers plugged in are not noticed";
        platform::DebugOutput(line.c_str());
    }
}

void SetBannerFont(HWND dialog)
{
    HFONT font = CreateFontA(70, 35, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH,
                             "System");
    SendDlgItemMessageA(dialog, IDC_BANNER, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

INT_PTR OnInitDialog(HWND dialog)
{
    platform::SimHookDialogOpened(dialog);

    HICON icon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_MAIN));
    SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageA(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));

    SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, kBarRangeHigh));
    SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETPOS, 0, 0);
    SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETBARCOLOR, 0, kBarColour);

    RegisterForHidArrivals(dialog);
    SetBannerFont(dialog);
    DialogCreateLink();
    return TRUE;
}

void OnOpen(HWND dialog)
{
    char path[1024] = {};
    OPENFILENAMEA request{};
    request.lStructSize = sizeof(request);
    request.hwndOwner = dialog;
    request.lpstrFilter = "Firmware file(*.bin)\0*.bin\0All Files(*.*)\0*.*\0";
    request.nFilterIndex = 1;
    request.lpstrFile = path;
    request.nMaxFile = sizeof(path);
    request.Flags = OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_NOREADONLYRETURN |
                    OFN_NONETWORKBUTTON | OFN_LONGNAMES;
    if (!GetOpenFileNameA(&request)) return;

    path[sizeof(path) - 1] = '\0';
    std::string checksum;
    OpenResult result = DialogOpenFile(dialog, path, checksum);
    if (result == OpenResult::Rejected || result == OpenResult::Busy) return;
    SetDlgItemTextA(dialog, IDC_PATH, path);
    if (result == OpenResult::Read) SetDlgItemTextA(dialog, IDC_CHECKSUM, checksum.c_str());
}

INT_PTR OnCommand(HWND dialog, WORD id)
{
    switch (id) {
    case IDCANCEL:
        // Closing while a download runs would pull the device link from under the worker.
        if (DialogAcceptClose()) EndDialog(dialog, 0);
        return TRUE;
    case IDC_START:
        DialogStart(dialog);
        return TRUE;
    case IDC_OPEN:
        OnOpen(dialog);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR OnCtlColorStatic(HDC context, HWND control)
{
    if (GetWindowLongA(control, GWL_ID) != IDC_BANNER) return FALSE;
    SetBkMode(context, TRANSPARENT);
    SetTextColor(context, kBannerTextColour);
    return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
}

void OnDestroy()
{
    DialogDestroyLink();
    if (deviceNotification != nullptr) {
        UnregisterDeviceNotification(deviceNotification);
        deviceNotification = nullptr;
    }
    platform::SimHookDialogClosing();
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(dialog);
    case WM_COMMAND:
        return OnCommand(dialog, LOWORD(wParam));
    case WM_TIMER:
        return TRUE;
    case WM_CTLCOLORSTATIC:
        return OnCtlColorStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_DEVICECHANGE:
        return DialogDeviceChange(dialog, static_cast<std::uint32_t>(wParam),
                                  reinterpret_cast<void*>(lParam));
    case platform::kWmUpdateProgress:
        SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(lParam), 0);
        return FALSE;
    case WM_QUERYENDSESSION:
        // Ending the session now would kill a transfer and leave the controller half-written.
        if (DialogMayEndSession()) return FALSE;
        SetWindowLongPtrA(dialog, DWLP_MSGRESULT, FALSE);
        return TRUE;
    case WM_ENDSESSION:
        if (wParam) DialogSessionEnding();
        return TRUE;
    case WM_DESTROY:
        OnDestroy();
        return TRUE;
    default:
        return platform::HandleDialogRequest(dialog, message, wParam, lParam) ? TRUE : FALSE;
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE module, HINSTANCE, LPSTR, int)
{
    platform::RestrictDllSearchToSystem();
    instance = module;
    RegisterProgressBarClass();
    if (DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDialogProc, 0) == -1) {
        const std::string text = "The updater's window cannot be created: " + platform::SystemErrorText(GetLastError());
        MessageBoxA(nullptr, text.c_str(), "Error", MB_ICONERROR);
    }
    return 1;
}
