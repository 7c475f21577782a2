#include "platform/linux/loaded_library.h"

#include <dlfcn.h>

#include <initializer_list>
#include <mutex>

namespace platform {
namespace {

// The first of names that dlopen loads.
LoadedLibrary Load(std::initializer_list<const char*> names)
{
    LoadedLibrary library;
    for (const char* name : names) {
        library.handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
        if (library.handle != nullptr) {
            library.name = name;
            library.reason.clear();
            return library;
        }
        const char* why = dlerror();
        if (!library.reason.empty()) library.reason += "; ";
        library.reason += why != nullptr ? why : name;
    }
    return library;
}

}  // namespace

const LoadedLibrary& SystemdLibrary()
{
    static const LoadedLibrary library = Load({"libsystemd.so.0", "libelogind.so.0"});
    return library;
}

const LoadedLibrary& UsbLibrary()
{
    static const LoadedLibrary library = Load({"libusb-1.0.so.0"});
    return library;
}

void* LoadedSymbol(const LoadedLibrary& library, const char* symbol)
{
    if (library.handle == nullptr) return nullptr;
    return dlsym(library.handle, symbol);
}

}  // namespace platform
