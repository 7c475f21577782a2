#include "platform/win32/system_library.h"

#include <cstring>

namespace platform {

namespace {

// Windows 8 on, and Vista and 7 with the update that brought the search flags (KB2533623):
// looked up at run time.
using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);

constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32

bool HasSearchFlags()
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    return kernel != nullptr && GetProcAddress(kernel, "AddDllDirectory") != nullptr;
}

}  // namespace

void RestrictDllSearchToSystem()
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr) return;
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefault != nullptr) setDefault(kSearchSystem32);
}

HMODULE LoadSystemLibrary(const char* name)
{
    if (HasSearchFlags()) return LoadLibraryExA(name, nullptr, kSearchSystem32);

    // Vista and 7 without that update: the full path in the system directory, which LoadLibraryA
    // takes as is.
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    std::size_t nameLength = std::strlen(name);
    if (length == 0 || length + 1 + nameLength + 1 > MAX_PATH) return nullptr;
    path[length] = '\\';
    std::memcpy(path + length + 1, name, nameLength + 1);
    return LoadLibraryA(path);
}

}  // namespace platform
