// What the Linux program takes from glibc in place of its functions newer than 2.34
// (glibc_floor.cpp; the link sends the runtime's calls there).
#pragma once

#include <dlfcn.h>

namespace platform {

// _dl_find_object's answer (glibc 2.35) for address, found from the loaded objects' program
// headers: 0 and the object's extent and unwinding table in result, or -1 where no object holds
// address.
int FindObjectByProgramHeaders(void* address, dl_find_object* result);

}  // namespace platform
