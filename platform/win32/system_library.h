// Loading DLLs that are not KnownDLLs (hid.dll, comctl32.dll) from the system directory only,
// never from the program's own directory or the current directory.
#pragma once

#include <windows.h>

namespace platform {

// Restricts the process's DLL search to the system directory (where the system supports it).
// Called first thing at start-up.
void RestrictDllSearchToSystem();

// The DLL name (for example "hid.dll") loaded from the system directory; null on failure.
HMODULE LoadSystemLibrary(const char* name);

}  // namespace platform
