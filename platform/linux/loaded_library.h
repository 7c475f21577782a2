// The shared libraries that the Linux program loads at run time when the system has them, instead
// of naming them (so that it starts without them): libsystemd, or elogind's libelogind in its
// place, for logind's inhibitor and the seat; libusb for mode 1's requests. The files
// systemd_forwarders.cpp and usb_forwarders.cpp define the functions of theirs that the program
// calls, so that the rest of the code calls them as if the library were linked.
#pragma once

#include <string>

namespace platform {

struct LoadedLibrary {
    void* handle = nullptr;  // null where none of the names loads
    std::string name;        // the name that loaded
    std::string reason;      // why none did: dlopen's word for each name
};

// Loaded on the first call, once for the process.
const LoadedLibrary& SystemdLibrary();  // libsystemd.so.0, else libelogind.so.0
const LoadedLibrary& UsbLibrary();      // libusb-1.0.so.0

// The function symbol of library as a pointer of the declared function's type; null where the
// library did not load or lacks it.
void* LoadedSymbol(const LoadedLibrary& library, const char* symbol);
template <typename Function>
Function* LoadedFunction(const LoadedLibrary& library, const char* symbol)
{
    return reinterpret_cast<Function*>(LoadedSymbol(library, symbol));
}

}  // namespace platform
