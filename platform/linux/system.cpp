// Time and threads on Linux. The debugger output channel is the terminal program's
// (app/linux/ui.cpp).
#include "platform/system.h"

#include <pthread.h>
#include <time.h>

#include <cerrno>
#include <new>

#include "platform/linux/error_text.h"

namespace platform {
namespace {

struct ThreadStart {
    ThreadRoutine routine;
    void* argument;
};

void* RunThread(void* parameter)
{
    const ThreadStart start = *static_cast<ThreadStart*>(parameter);
    delete static_cast<ThreadStart*>(parameter);
    start.routine(start.argument);
    return nullptr;
}

}  // namespace

void SleepMs(std::uint32_t milliseconds)
{
    timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

std::uint32_t TickCount()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const unsigned long long ms = static_cast<unsigned long long>(now.tv_sec) * 1000ull +
                                  static_cast<unsigned long long>(now.tv_nsec) / 1000000ull;
    return static_cast<std::uint32_t>(ms);
}

Outcome StartDetachedThread(ThreadRoutine routine, void* argument)
{
    auto* start = new (std::nothrow) ThreadStart{routine, argument};
    if (start == nullptr) return Failure(Status::Failed, "start a thread", ErrorText(ENOMEM));
    pthread_t thread;
    const int error = pthread_create(&thread, nullptr, RunThread, start);
    if (error != 0) {
        delete start;
        return Failure(Status::Failed, "start a thread", ErrorText(error));
    }
    pthread_detach(thread);
    return Done();
}

}  // namespace platform
