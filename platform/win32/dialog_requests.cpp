#include "platform/win32/dialog_requests.h"

#include <cstdint>
#include <cstdio>

#include "platform/system.h"

namespace platform {

namespace {

constexpr wchar_t kReason[] =
    L"Firmware update in progress. Do not turn off the computer or unplug the controller.";

// The requests filed and not yet taken. A sent request is taken before SendMessage returns, so
// few wait at once; a posted box may wait a while, or for ever once the dialog is gone. Posted
// boxes take at most half of the room, so that a sent request always finds some.
constexpr int kRoom = 16;
constexpr int kRoomForPosted = kRoom / 2;

struct Filed {
    std::uint32_t number = 0;  // 0: the place is free
    DialogRequest request{0};
};

SRWLOCK queueLock = SRWLOCK_INIT;
Filed queue[kRoom];
std::uint32_t lastNumber = 0;

// Files the request; its number, or 0 when there is no room for it.
std::uint32_t File(const DialogRequest& request, int room)
{
    AcquireSRWLockExclusive(&queueLock);
    int taken = 0;
    Filed* free = nullptr;
    for (Filed& place : queue) {
        if (place.number != 0) ++taken;
        else if (free == nullptr) free = &place;
    }
    std::uint32_t number = 0;
    if (free != nullptr && taken < room) {
        if (++lastNumber == 0) ++lastNumber;
        number = lastNumber;
        *free = {number, request};
    }
    ReleaseSRWLockExclusive(&queueLock);
    return number;
}

// Takes the request of this number and kind out of the queue; false when none is filed.
bool Take(UINT message, LPARAM number, DialogRequest& request)
{
    if (number <= 0 || static_cast<std::uint64_t>(number) > UINT32_MAX) return false;
    bool found = false;
    AcquireSRWLockExclusive(&queueLock);
    for (Filed& place : queue) {
        if (place.number != static_cast<std::uint32_t>(number) || place.request.message != message) continue;
        request = place.request;
        place = Filed{};
        found = true;
        break;
    }
    ReleaseSRWLockExclusive(&queueLock);
    return found;
}

// While a transfer runs the end of the session is refused (WM_QUERYENDSESSION), and the system
// shows this reason beside the dialog meanwhile.
void ApplySessionEndBlock(HWND dialog, bool blocked)
{
    if (blocked) ShutdownBlockReasonCreate(dialog, kReason);
    else ShutdownBlockReasonDestroy(dialog);
}

// ES_CONTINUOUS keeps the request until this thread changes it: the system does not go to idle
// sleep meanwhile. The display may still turn off.
void ApplyKeepAwake(bool awake)
{
    SetThreadExecutionState(awake ? ES_CONTINUOUS | ES_SYSTEM_REQUIRED : ES_CONTINUOUS);
}

}  // namespace

void SendDialogRequest(HWND dialog, const DialogRequest& request)
{
    const std::uint32_t number = File(request, kRoom);
    if (number == 0) return;
    SendMessageA(dialog, request.message, 0, static_cast<LPARAM>(number));
    // Not taken: the dialog is gone.
    DialogRequest left{0};
    Take(request.message, static_cast<LPARAM>(number), left);
}

bool PostDialogRequest(HWND dialog, const DialogRequest& request)
{
    const std::uint32_t number = File(request, kRoomForPosted);
    if (number == 0) return false;
    if (PostMessageA(dialog, request.message, 0, static_cast<LPARAM>(number))) return true;
    DialogRequest left{0};
    Take(request.message, static_cast<LPARAM>(number), left);
    return false;
}

bool HandleDialogRequest(HWND dialog, UINT message, WPARAM, LPARAM lParam)
{
    if (message != kWmSessionEndBlock && message != kWmKeepAwake && message != kWmShowBoxLater) return false;
    DialogRequest request{0};
    if (!Take(message, lParam, request)) {
        char line[96];
        std::snprintf(line, sizeof line, "private message 0x%04X ignored: request %lld was not filed by this program",
                      message, static_cast<long long>(lParam));
        DebugOutput(line);
        return true;
    }
    switch (message) {
    case kWmSessionEndBlock: ApplySessionEndBlock(dialog, request.on); break;
    case kWmKeepAwake: ApplyKeepAwake(request.on); break;
    default: MessageBoxA(dialog, request.text, request.caption, request.flags); break;
    }
    return true;
}

}  // namespace platform
