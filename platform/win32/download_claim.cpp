// The download claim of an interface: a named semaphore of one in the global namespace, so that
// every copy of the program on the machine (in any session, 32-bit or 64-bit) sees the same claim.
//
// Why this mechanism:
// - The transfer handle shares reading and writing, as every HID client's handle does, so the
//   open itself keeps no second writer out.
// - A claim per interface rather than one copy of the program per session: a second copy may
//   still update another controller, and copies in other sessions are kept off as well.
// - A semaphore rather than a mutex: the finder takes the claim on the dialog's thread and the
//   worker gives it back on its own; a mutex belongs to the thread that took it.
// - When the program ends in any way, the system closes its handle, and the claim goes with it.
#include "platform/download_claim.h"

#include <windows.h>

#include <cstdio>

#include "platform/system.h"
#include "platform/win32/system_error.h"

namespace platform {
namespace {

// An object's name may not hold a backslash beyond its namespace, and is at most MAX_PATH long:
// the name carries a 64-bit digest (FNV-1a) of the path, whose ASCII letters are lowercased.
std::string ClaimName(const std::string& path)
{
    std::uint64_t digest = 0xCBF29CE484222325ull;
    for (char c : path) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        digest ^= static_cast<unsigned char>(c);
        digest *= 0x100000001B3ull;
    }
    char name[64];
    std::snprintf(name, sizeof name, "Global\\OskelUpdater.Download.%016llx", static_cast<unsigned long long>(digest));
    return name;
}

// The download goes on without a claim when the system will not make one: refusing it would leave
// the controller without any update.
Outcome GoOnWithoutClaim(const char* operation, const std::string& path, DWORD error)
{
    const std::string line = std::string(operation) + " for the download claim of " + path + ": " +
                             SystemErrorText(error) + "; the download goes on without it";
    DebugOutput(line.c_str());
    return Done();
}

// Another copy of the program holds the claim.
Outcome Held(const std::string& path)
{
    return Failure(Status::Held, "the download claim of " + path, "another copy of the updater holds it");
}

}  // namespace

Outcome ClaimForDownload(const std::string& path, DownloadClaim& claim)
{
    claim = kNoClaim;
    HANDLE semaphore = CreateSemaphoreA(nullptr, 1, 1, ClaimName(path).c_str());
    if (semaphore == nullptr) {
        const DWORD error = GetLastError();
        // A copy that another user runs made it, and its security keeps other users out: it exists
        // because that copy holds it.
        if (error == ERROR_ACCESS_DENIED) return Held(path);
        return GoOnWithoutClaim("CreateSemaphore", path, error);
    }
    const DWORD waited = WaitForSingleObject(semaphore, 0);
    if (waited == WAIT_OBJECT_0) {
        claim = reinterpret_cast<DownloadClaim>(semaphore);
        return Done();
    }
    const DWORD error = GetLastError();
    CloseHandle(semaphore);
    if (waited == WAIT_TIMEOUT) return Held(path);
    return GoOnWithoutClaim("WaitForSingleObject", path, error);
}

void ReleaseDownloadClaim(DownloadClaim& claim)
{
    if (claim == kNoClaim) return;
    HANDLE semaphore = reinterpret_cast<HANDLE>(claim);
    ReleaseSemaphore(semaphore, 1, nullptr);
    CloseHandle(semaphore);
    claim = kNoClaim;
}

}  // namespace platform
