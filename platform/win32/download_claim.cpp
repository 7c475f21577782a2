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
// - Its security lets every interactive user's copy wait on it and release it, so that the copy of
//   another user finds it held. A claim that cannot be had (this program may not create global
//   objects, or the object of the claim's name is one it may not use: a squatter's) is told as
//   such, and the finder then goes on without it.
#include "platform/download_claim.h"
#include "platform/win32/claim_name.h"

#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "platform/system.h"
#include "platform/win32/system_error.h"

namespace platform {
namespace {

// The claim's security: every interactive user's copy may wait on the semaphore and release it
// (SYNCHRONIZE | SEMAPHORE_MODIFY_STATE, granted to S-1-5-4, INTERACTIVE), so that a copy run by
// another user finds the claim held rather than refused. Nothing else is granted beyond what the
// creator's own handle has. Built by hand (an ACL of one access-allowed ACE) to import nothing
// but kernel32.
struct ClaimSecurity {
    ACL acl;
    ACCESS_ALLOWED_ACE ace;       // its SidStart is the first DWORD of the SID
    DWORD sidRest[2];             // the rest of S-1-5-4 (12 bytes in all)
    SECURITY_DESCRIPTOR descriptor;
    SECURITY_ATTRIBUTES attributes;
};

// Made once, by the finders on the dialog's thread.
const ClaimSecurity& InteractiveUsersMayWaitAndRelease()
{
    static ClaimSecurity s = {};
    if (s.acl.AclSize != 0) return s;
    constexpr BYTE kInteractiveSid[12] = {1, 1, 0, 0, 0, 0, 0, 5, 4, 0, 0, 0};  // S-1-5-4
    constexpr WORD kAceSize = static_cast<WORD>(offsetof(ACCESS_ALLOWED_ACE, SidStart) + sizeof kInteractiveSid);
    s.acl.AclRevision = ACL_REVISION;
    s.acl.AclSize = static_cast<WORD>(sizeof(ACL) + kAceSize);
    s.acl.AceCount = 1;
    s.ace.Header.AceType = ACCESS_ALLOWED_ACE_TYPE;
    s.ace.Header.AceSize = kAceSize;
    s.ace.Mask = SYNCHRONIZE | SEMAPHORE_MODIFY_STATE;
    std::memcpy(&s.ace.SidStart, kInteractiveSid, sizeof kInteractiveSid);
    s.descriptor.Revision = SECURITY_DESCRIPTOR_REVISION;
    s.descriptor.Control = SE_DACL_PRESENT;
    s.descriptor.Dacl = &s.acl;
    s.attributes.nLength = sizeof s.attributes;
    s.attributes.lpSecurityDescriptor = &s.descriptor;
    return s;
}

static_assert(offsetof(ClaimSecurity, ace) == sizeof(ACL), "the ACE follows the ACL header");
static_assert(offsetof(ClaimSecurity, sidRest) == offsetof(ClaimSecurity, ace) + sizeof(ACCESS_ALLOWED_ACE),
              "the SID follows the ACE's mask");

// A refusal of the system's, with its reason.
Outcome Refused(Status status, const char* operation, DWORD error)
{
    return Failure(status, operation, SystemErrorText(error));
}

// Takes the claim on a semaphore handle: free, or held by another copy.
Outcome TakeSemaphore(HANDLE semaphore, DownloadClaim& claim)
{
    const DWORD waited = WaitForSingleObject(semaphore, 0);
    if (waited == WAIT_OBJECT_0) {
        claim = reinterpret_cast<DownloadClaim>(semaphore);
        return Done();
    }
    const DWORD error = GetLastError();
    CloseHandle(semaphore);
    if (waited == WAIT_TIMEOUT) return Failure(Status::Held, "WaitForSingleObject", "another copy of the updater holds it");
    return Refused(Status::Failed, "WaitForSingleObject", error);
}

}  // namespace

Outcome ClaimForDownload(const std::string& path, DownloadClaim& claim)
{
    claim = kNoClaim;
    const std::string name = DownloadClaimName(path);
    HANDLE semaphore = CreateSemaphoreA(const_cast<SECURITY_ATTRIBUTES*>(&InteractiveUsersMayWaitAndRelease().attributes), 1, 1, name.c_str());
    if (semaphore != nullptr) return TakeSemaphore(semaphore, claim);
    const DWORD createError = GetLastError();
    if (createError != ERROR_ACCESS_DENIED) return Refused(Status::Failed, "CreateSemaphore", createError);
    // Refused: either the claim exists and this program may not have all of it (another user's
    // copy made it: open it with the rights that the claim grants), or this program may not create
    // global objects at all (a low-integrity or sandboxed process): then there is nothing to open.
    semaphore = OpenSemaphoreA(SYNCHRONIZE | SEMAPHORE_MODIFY_STATE, FALSE, name.c_str());
    if (semaphore != nullptr) return TakeSemaphore(semaphore, claim);
    const DWORD openError = GetLastError();
    if (openError == ERROR_FILE_NOT_FOUND) return Refused(Status::Failed, "CreateSemaphore", createError);
    return Refused(Status::Denied, "OpenSemaphore", openError);
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
