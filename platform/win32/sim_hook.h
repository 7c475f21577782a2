// The point where the simulator build of the Windows program sets up its simulated world.
// The shipped program links a version that does nothing.
#pragma once

#include <windows.h>

namespace platform {

// The main dialog has been created (WM_INITDIALOG).
void SimHookDialogOpened(HWND dialog);

// The main dialog is being destroyed (WM_DESTROY, after the device link has been closed).
void SimHookDialogClosing();

}  // namespace platform
