// Debugger output, time and threads through kernel32.
#include "platform/system.h"

#include <windows.h>

#include <new>

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

bool StartDetachedThread(ThreadRoutine routine, void* argument)
{
    auto* start = new (std::nothrow) ThreadStart{routine, argument};
    if (start == nullptr) return false;
    HANDLE thread = CreateThread(nullptr, 0, RunThread, start, 0, nullptr);
    if (thread == nullptr) {
        delete start;
        return false;
    }
    CloseHandle(thread);
    return true;
}

}  // namespace platform
