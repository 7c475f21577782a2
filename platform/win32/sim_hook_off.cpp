// The shipped program has no simulated world.
#include "platform/sim_hook_win32.h"

namespace platform {

void SimHookDialogOpened(HWND) {}

void SimHookDialogClosing() {}

}  // namespace platform
