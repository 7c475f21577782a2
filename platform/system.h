// Process services: debugger output, time and threads.
#pragma once

#include <cstdint>

#include "platform/outcome.h"

namespace platform {

// One line to the debugger output channel (the text is written as given).
void DebugOutput(const char* text);

void SleepMs(std::uint32_t milliseconds);

// Milliseconds since the system started, wrapping at 2^32.
std::uint32_t TickCount();

// Starts a thread that runs routine(argument) and is never joined; fails when the thread could
// not be created.
using ThreadRoutine = void (*)(void* argument);
Outcome StartDetachedThread(ThreadRoutine routine, void* argument);

}  // namespace platform
