#include "platform/hid_call_linux.h"

#include <linux/hidraw.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/hid_node_linux.h"

namespace platform {

// One call and the memory it owns: it belongs to the call, not to its caller.
struct BlockingCall {
    std::shared_ptr<OpenDescriptor> descriptor;
    BlockingCallKind kind = BlockingCallKind::Write;
    std::vector<std::uint8_t> report;
    long result = -1;
    int error = 0;
    bool done = false;
};

struct CallRunner {
    std::mutex mutex;
    std::condition_variable wake;      // a call to run, or the end
    std::condition_variable finished;  // the call has returned
    std::shared_ptr<BlockingCall> call;
    bool ending = false;
    pthread_t thread{};
};

namespace {

// How long an interrupted call may take to return before it is abandoned, and how often the
// interruption is repeated meanwhile (a signal that arrives just before the call enters the
// kernel does not interrupt it).
constexpr auto kInterruptGrace = std::chrono::milliseconds(1000);
constexpr auto kInterruptRepeat = std::chrono::milliseconds(10);

// The report ioctls take their length in the request's 14-bit size field.
constexpr std::size_t kMaxIoctlLength = (1u << _IOC_SIZEBITS) - 1;

int InterruptSignal() { return SIGRTMIN; }

void IgnoreInterrupt(int) {}

// The interrupt signal's handler does nothing, and without SA_RESTART the interrupted call
// returns EINTR.
void InstallInterruptHandler()
{
    static std::once_flag installed;
    std::call_once(installed, [] {
        struct sigaction action {};
        action.sa_handler = IgnoreInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        sigaction(InterruptSignal(), &action, nullptr);
    });
}

long Perform(BlockingCall& call)
{
    const int fd = call.descriptor->fd;
    std::uint8_t* bytes = call.report.data();
    const std::size_t length = call.report.size();
    switch (call.kind) {
    case BlockingCallKind::Write: return write(fd, bytes, length);
    case BlockingCallKind::SetOutputReport: return ioctl(fd, HIDIOCSOUTPUT(length), bytes);
    case BlockingCallKind::GetInputReport: return ioctl(fd, HIDIOCGINPUT(length), bytes);
    }
    return -1;
}

void RunCalls(std::shared_ptr<CallRunner> runner)
{
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, InterruptSignal());
    pthread_sigmask(SIG_UNBLOCK, &interrupt, nullptr);

    std::unique_lock<std::mutex> lock(runner->mutex);
    for (;;) {
        runner->wake.wait(lock, [&] { return runner->call != nullptr || runner->ending; });
        if (runner->call == nullptr) return;  // ending, and no call in flight
        std::shared_ptr<BlockingCall> call = runner->call;
        lock.unlock();
        const long result = Perform(*call);
        const int error = errno;
        lock.lock();
        call->result = result;
        call->error = error;
        call->done = true;
        runner->call = nullptr;
        runner->finished.notify_all();
    }
}

std::shared_ptr<CallRunner> StartRunner()
{
    InstallInterruptHandler();
    auto runner = std::make_shared<CallRunner>();
    std::thread thread;
    try {
        thread = std::thread(RunCalls, runner);
    } catch (const std::system_error&) {
        return nullptr;
    }
    runner->thread = thread.native_handle();
    thread.detach();
    return runner;
}

const char* CallName(BlockingCallKind kind)
{
    switch (kind) {
    case BlockingCallKind::Write: return "write";
    case BlockingCallKind::SetOutputReport: return "HIDIOCSOUTPUT";
    case BlockingCallKind::GetInputReport: return "HIDIOCGINPUT";
    }
    return "call";
}

}  // namespace

OpenDescriptor::~OpenDescriptor()
{
    if (fd >= 0) close(fd);
}

BoundedCaller::~BoundedCaller()
{
    if (!runner_) return;
    std::lock_guard<std::mutex> lock(runner_->mutex);
    runner_->ending = true;
    runner_->wake.notify_all();
}

CallOutcome BoundedCaller::Run(const std::shared_ptr<OpenDescriptor>& descriptor, BlockingCallKind kind,
                        std::uint8_t* report, std::size_t length, std::uint32_t timeLimitMs, std::string& error)
{
    const std::string name = CallName(kind);
    if (kind != BlockingCallKind::Write && length > kMaxIoctlLength) {
        error = name + ": a report of " + std::to_string(length) + " bytes";
        return CallOutcome::Failed;
    }
    if (!runner_) runner_ = StartRunner();
    if (!runner_) {
        error = name + ": no thread for the call";
        return CallOutcome::Failed;
    }

    auto call = std::make_shared<BlockingCall>();
    call->descriptor = descriptor;
    call->kind = kind;
    call->report.assign(report, report + length);

    std::unique_lock<std::mutex> lock(runner_->mutex);
    runner_->call = call;
    runner_->wake.notify_all();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeLimitMs);
    bool timedOut = !runner_->finished.wait_until(lock, deadline, [&] { return call->done; });
    if (timedOut) {
        const auto giveUp = std::chrono::steady_clock::now() + kInterruptGrace;
        while (!call->done && std::chrono::steady_clock::now() < giveUp) {
            pthread_kill(runner_->thread, InterruptSignal());
            runner_->finished.wait_for(lock, kInterruptRepeat, [&] { return call->done; });
        }
        if (!call->done) {
            // The kernel still holds the call: leave the thread and the call's memory to it.
            runner_->ending = true;
            lock.unlock();
            runner_.reset();
            error = name + ": no answer within " + std::to_string(timeLimitMs) + " ms; the call was abandoned";
            return CallOutcome::TimedOut;
        }
    }
    const long result = call->result;
    const int callError = call->error;
    lock.unlock();

    if (result < 0) {
        if (timedOut && callError == EINTR) {
            error = name + ": no answer within " + std::to_string(timeLimitMs) + " ms";
            return CallOutcome::TimedOut;
        }
        error = name + ": " + ErrorText(callError);
        return callError == ENODEV ? CallOutcome::DeviceGone : CallOutcome::Failed;
    }
    if (kind == BlockingCallKind::GetInputReport) {
        const std::size_t got = static_cast<std::size_t>(result) < length ? static_cast<std::size_t>(result) : length;
        if (got == 0) {
            error = name + ": an empty report";
            return CallOutcome::Failed;
        }
        std::copy(call->report.begin(), call->report.begin() + static_cast<std::ptrdiff_t>(got), report);
        std::fill(report + got, report + length, 0);
        return CallOutcome::Done;
    }
    if (static_cast<std::size_t>(result) != length) {
        error = name + ": " + std::to_string(result) + " of " + std::to_string(length) + " bytes";
        return CallOutcome::Failed;
    }
    return CallOutcome::Done;
}

}  // namespace platform
