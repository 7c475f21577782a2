#include "platform/session_end_win32.h"

namespace platform {

namespace {

constexpr wchar_t kReason[] =
    L"Firmware update in progress. Do not turn off the computer or unplug the controller.";

using CreateReasonFn = BOOL(WINAPI*)(HWND, LPCWSTR);
using DestroyReasonFn = BOOL(WINAPI*)(HWND);

// user32 has these from Windows Vista on: looked up at run time.
FARPROC User32Function(const char* name)
{
    HMODULE user32 = GetModuleHandleA("user32.dll");
    return user32 != nullptr ? GetProcAddress(user32, name) : nullptr;
}

}  // namespace

void ApplySessionEndBlock(HWND dialog, bool blocked)
{
    if (blocked) {
        auto create = reinterpret_cast<CreateReasonFn>(
            reinterpret_cast<void*>(User32Function("ShutdownBlockReasonCreate")));
        if (create != nullptr) create(dialog, kReason);
    } else {
        auto destroy = reinterpret_cast<DestroyReasonFn>(
            reinterpret_cast<void*>(User32Function("ShutdownBlockReasonDestroy")));
        if (destroy != nullptr) destroy(dialog);
    }
}

}  // namespace platform
