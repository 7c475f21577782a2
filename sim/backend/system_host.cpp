// Process services of the simulated world: debugger output goes to the trace, pauses and the
// tick count run on simulated time, threads are counted so that tests can wait for them.
#include <chrono>
#include <thread>

#include "platform/system.h"
#include "sim/world.h"

namespace platform {

void DebugOutput(const char* text) { sim::RecordDebugLine(text ? text : ""); }

void SleepMs(std::uint32_t milliseconds)
{
    sim::RecordSleep(milliseconds);
    sim::WaitSimulated(milliseconds);
}

std::uint32_t TickCount()
{
    std::uint32_t ticks = 0;
    if (sim::TickCountIsFixed(ticks)) return ticks;
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

Outcome StartDetachedThread(ThreadRoutine routine, void* argument)
{
    if (!sim::ThreadStarting()) return Failure(Status::Failed, "start a thread", "the simulated system refuses it");
    std::thread([routine, argument] {
        routine(argument);
        sim::ThreadEnded();
    }).detach();
    return Done();
}

}  // namespace platform
