// The debugger output of the programs the driver starts, read as a debug monitor reads it: a
// process that runs without a debugger hands each OutputDebugString line to whoever owns the
// DBWIN_BUFFER section (its process id, then the text), one line at a time, through the events
// DBWIN_BUFFER_READY and DBWIN_DATA_READY. Wine's kernelbase does the same.
#include <windows.h>

#include <cstring>

#include "tests/wine/driver_common.h"

namespace driver {
namespace {

constexpr DWORD kBufferSize = 4096;

struct DebugBuffer {
    DWORD processId;
    char text[kBufferSize - sizeof(DWORD)];
};

CRITICAL_SECTION linesLock;
std::vector<std::pair<DWORD, std::string>> lines;
HANDLE bufferReady = nullptr;
HANDLE dataReady = nullptr;
const DebugBuffer* buffer = nullptr;

DWORD WINAPI Listen(LPVOID)
{
    for (;;) {
        SetEvent(bufferReady);
        if (WaitForSingleObject(dataReady, INFINITE) != WAIT_OBJECT_0) return 0;
        const std::string text(buffer->text, strnlen(buffer->text, sizeof buffer->text));
        EnterCriticalSection(&linesLock);
        lines.emplace_back(buffer->processId, text);
        LeaveCriticalSection(&linesLock);
    }
}

}  // namespace

bool ListenToDebugOutput()
{
    if (buffer != nullptr) return true;
    InitializeCriticalSection(&linesLock);
    HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBufferSize, "DBWIN_BUFFER");
    bufferReady = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY");
    dataReady = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY");
    if (section == nullptr || bufferReady == nullptr || dataReady == nullptr) {
        return Check(false, "the driver reads the programs' debugger output");
    }
    buffer = static_cast<const DebugBuffer*>(MapViewOfFile(section, FILE_MAP_READ, 0, 0, kBufferSize));
    HANDLE thread = buffer != nullptr ? CreateThread(nullptr, 0, Listen, nullptr, 0, nullptr) : nullptr;
    if (thread == nullptr) return Check(false, "the driver reads the programs' debugger output");
    CloseHandle(thread);
    return true;
}

bool WroteDebugLine(const Updater& updater, const std::string& part)
{
    bool found = false;
    EnterCriticalSection(&linesLock);
    for (const auto& line : lines)
        found = found || (line.first == updater.process.dwProcessId && line.second.find(part) != std::string::npos);
    LeaveCriticalSection(&linesLock);
    return found;
}

}  // namespace driver
