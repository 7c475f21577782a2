// The Linux program runs on glibc 2.34 and later (tools/check-linux-program.sh). The C++ runtime
// and GCC's unwinder, linked in, take two functions from the glibc they were built on that older
// ones lack: the link sends their calls here instead (-Wl,--wrap in cmake/linux.cmake), and these
// use glibc's own where the system has it.
#include "platform/linux/glibc_floor.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace platform {
namespace {

using FindObject = int (*)(void*, dl_find_object*);

// glibc's _dl_find_object (2.35 and later), looked up once before main: the unwinder must not
// look it up while it unwinds.
FindObject systemFindObject = nullptr;
__attribute__((constructor)) void LookUpSystemFindObject()
{
    systemFindObject = reinterpret_cast<FindObject>(dlvsym(RTLD_DEFAULT, "_dl_find_object", "GLIBC_2.35"));
}

struct Search {
    std::uintptr_t address;
    dl_find_object* result;
    bool found;
};

int VisitObject(dl_phdr_info* info, std::size_t, void* data)
{
    auto& search = *static_cast<Search*>(data);
    std::uintptr_t low = UINTPTR_MAX;
    std::uintptr_t high = 0;
    std::uintptr_t ehFrame = 0;
    bool inside = false;
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& header = info->dlpi_phdr[i];
        const std::uintptr_t start = info->dlpi_addr + header.p_vaddr;
        if (header.p_type == PT_LOAD) {
            const std::uintptr_t end = start + header.p_memsz;
            if (start < low) low = start;
            if (end > high) high = end;
            if (search.address >= start && search.address < end) inside = true;
        } else if (header.p_type == PT_GNU_EH_FRAME) {
            ehFrame = start;
        }
    }
    if (!inside) return 0;
    search.result->dlfo_flags = 0;
    search.result->dlfo_map_start = reinterpret_cast<void*>(low);
    search.result->dlfo_map_end = reinterpret_cast<void*>(high);
    search.result->dlfo_link_map = nullptr;
    search.result->dlfo_eh_frame = reinterpret_cast<void*>(ehFrame);
    search.found = true;
    return 1;
}

}  // namespace

int FindObjectByProgramHeaders(void* address, dl_find_object* result)
{
    Search search{reinterpret_cast<std::uintptr_t>(address), result, false};
    dl_iterate_phdr(VisitObject, &search);
    return search.found ? 0 : -1;
}

}  // namespace platform

extern "C" {

// The object that holds address, and its unwinding table (PT_GNU_EH_FRAME): glibc's answer where
// it has _dl_find_object, else the same from the loaded objects' program headers.
int __wrap__dl_find_object(void* address, dl_find_object* result)
{
    if (platform::systemFindObject != nullptr) return platform::systemFindObject(address, result);
    return platform::FindObjectByProgramHeaders(address, result);
}

// Random numbers from the kernel (getrandom, glibc 2.25), as glibc's arc4random takes them; it
// ends the program where there are none, as glibc's does.
std::uint32_t __wrap_arc4random(void)
{
    std::uint32_t value = 0;
    for (;;) {
        const ssize_t got = getrandom(&value, sizeof value, 0);
        if (got == static_cast<ssize_t>(sizeof value)) return value;
        if (got < 0 && errno != EINTR) std::abort();
    }
}

}  // extern "C"
