// The Linux program's own _dl_find_object (platform/linux/glibc_floor.cpp), which the unwinder
// uses on a glibc older than 2.35, against glibc's, on this machine: the same object's unwinding
// table for code in the program, in libc and in a library loaded later, and no object for an
// address that none holds. Then an exception thrown and caught through it.
#include <dlfcn.h>

#include <cstdio>
#include <stdexcept>
#include <string>

#include "platform/linux/glibc_floor.h"

namespace {

int passed = 0;
int failed = 0;

void Check(bool holds, const std::string& what)
{
    if (holds) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAIL %s\n", what.c_str());
    }
}

using FindObject = int (*)(void*, dl_find_object*);

void SameAsGlibc(FindObject glibc, void* address, const std::string& what)
{
    dl_find_object ours{};
    dl_find_object theirs{};
    const int ourResult = platform::FindObjectByProgramHeaders(address, &ours);
    const int theirResult = glibc(address, &theirs);
    Check(ourResult == theirResult, what + ": found as glibc finds it (" + std::to_string(ourResult) + ", glibc " +
                                        std::to_string(theirResult) + ")");
    if (ourResult != 0 || theirResult != 0) return;
    Check(ours.dlfo_eh_frame == theirs.dlfo_eh_frame, what + ": the same unwinding table as glibc's");
    Check(ours.dlfo_eh_frame != nullptr, what + ": an unwinding table");
    Check(ours.dlfo_map_start <= address && address < ours.dlfo_map_end, what + ": the object's extent holds it");
}

[[gnu::noinline]] int Throws(int value)
{
    if (value > 0) throw std::runtime_error("thrown");
    return value;
}

}  // namespace

int main()
{
    const auto glibc = reinterpret_cast<FindObject>(dlvsym(RTLD_DEFAULT, "_dl_find_object", "GLIBC_2.35"));
    if (glibc == nullptr) {
        std::printf("glibc floor: this glibc has no _dl_find_object to compare with\n0 passed, 0 failed\n");
        return 0;
    }
    SameAsGlibc(glibc, reinterpret_cast<void*>(&main), "code of the program");
    SameAsGlibc(glibc, dlsym(RTLD_DEFAULT, "printf"), "code of libc");
    void* library = dlopen("libudev.so.1", RTLD_NOW | RTLD_LOCAL);
    Check(library != nullptr, "libudev.so.1 loads");
    if (library != nullptr) SameAsGlibc(glibc, dlsym(library, "udev_new"), "code of a library loaded later");
    int onTheStack = 0;
    SameAsGlibc(glibc, &onTheStack, "the stack, which no object holds");

    bool caught = false;
    try {
        Throws(1);
    } catch (const std::runtime_error& error) {
        caught = std::string(error.what()) == "thrown";
    }
    Check(caught, "an exception is caught where it should be");
    std::printf("glibc floor: %d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
