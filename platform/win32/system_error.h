// The system's text for an error code, for diagnostics.
#pragma once

#include <windows.h>

#include <string>

namespace platform {

// "error N (the system's text)", or "error N" when the system has no text for it.
std::string SystemErrorText(DWORD error);

}  // namespace platform
