#include "sim/world.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "sim/trace.h"

namespace sim {
namespace {

std::atomic<std::uint32_t> timeScale{1};
std::atomic<bool> tickFixed{false};
std::atomic<std::uint32_t> fixedTicks{0};

std::mutex threadMutex;
std::condition_variable threadsDone;
int runningThreads = 0;
bool threadCreationFails = false;

}  // namespace

void SetTimeScale(std::uint32_t scale) { timeScale = scale == 0 ? 1 : scale; }
std::uint32_t TimeScale() { return timeScale; }

void WaitSimulated(std::uint32_t ms)
{
    const auto realMicroseconds = static_cast<std::uint64_t>(ms) * 1000 / timeScale;
    if (realMicroseconds > 0) std::this_thread::sleep_for(std::chrono::microseconds(realMicroseconds));
}

void SetFixedTickCount(std::uint32_t ticks)
{
    fixedTicks = ticks;
    tickFixed = true;
}
void ClearFixedTickCount() { tickFixed = false; }

bool TickCountIsFixed(std::uint32_t& ticks)
{
    ticks = fixedTicks;
    return tickFixed;
}

void SetThreadCreationFails(bool fails)
{
    std::lock_guard<std::mutex> lock(threadMutex);
    threadCreationFails = fails;
}

bool ThreadStarting()
{
    std::lock_guard<std::mutex> lock(threadMutex);
    if (threadCreationFails) return false;
    ++runningThreads;
    return true;
}

void ThreadEnded()
{
    std::lock_guard<std::mutex> lock(threadMutex);
    --runningThreads;
    threadsDone.notify_all();
}

bool WaitForThreads(std::uint32_t timeoutMs)
{
    std::unique_lock<std::mutex> lock(threadMutex);
    return threadsDone.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [] { return runningThreads == 0; });
}

int RunningThreads()
{
    std::lock_guard<std::mutex> lock(threadMutex);
    return runningThreads;
}

}  // namespace sim
