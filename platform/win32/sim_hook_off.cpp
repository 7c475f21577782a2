// The shipped program has no simulated world.
#include "platform/win32/sim_hook.h"

namespace platform {

void SimHookDialogOpened(HWND) {}

void SimHookDialogClosing() {}

}  // namespace platform
