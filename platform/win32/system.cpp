// Debugger output, time and threads through kernel32.
#include "platform/system.h"

#include <windows.h>

#include <new>

#include "platform/win32/system_error.h"

namespace platform {

namespace {

struct ThreadStart {
    ThreadRoutine routine;
    void* argument;
};

DWORD WINAPI RunThread(LPVOID parameter)
{
    ThreadStart start = *static_cast<ThreadStart*>(parameter);
    delete static_cast<ThreadStart*>(parameter);
    start.routine(start.argument);
    return 0;
}

}  // namespace

void DebugOutput(const char* text)
{
    OutputDebugStringA(text);
}

void SleepMs(std::uint32_t milliseconds)
{
    Sleep(milliseconds);
}

std::uint32_t TickCount()
{
    return GetTickCount();
}

Outcome StartDetachedThread(ThreadRoutine routine, void* argument)
{
    auto* start = new (std::nothrow) ThreadStart{routine, argument};
    if (start == nullptr) return Failure(Status::Failed, "CreateThread", SystemErrorText(ERROR_NOT_ENOUGH_MEMORY));
    HANDLE thread = CreateThread(nullptr, 0, RunThread, start, 0, nullptr);
    if (thread == nullptr) {
        const DWORD error = GetLastError();
        delete start;
        return Failure(Status::Failed, "CreateThread", SystemErrorText(error));
    }
    CloseHandle(thread);
    return Done();
}

}  // namespace platform
