#include "platform/linux/hid_call.h"

#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/linux/error_text.h"

namespace platform {
namespace {

// The report ioctls take their length in the request's 14-bit size field.
constexpr std::size_t kMaxIoctlLength = (1u << _IOC_SIZEBITS) - 1;

const char* CallName(HidrawCall call)
{
    switch (call) {
    case HidrawCall::Write: return "write";
    case HidrawCall::SetOutputReport: return "HIDIOCSOUTPUT";
    case HidrawCall::GetInputReport: return "HIDIOCGINPUT";
    }
    return "call";
}

long Perform(int fd, HidrawCall call, std::uint8_t* report, std::size_t length)
{
    switch (call) {
    case HidrawCall::Write: return write(fd, report, length);
    case HidrawCall::SetOutputReport: return ioctl(fd, HIDIOCSOUTPUT(length), report);
    case HidrawCall::GetInputReport: return ioctl(fd, HIDIOCGINPUT(length), report);
    }
    errno = EINVAL;
    return -1;
}

// What a failed call's errno means. usbhid passes a stall on as EPIPE; the transfer's own time
// limit as ETIMEDOUT; uhid's wait for its device program as EIO.
Status StatusOfError(int error)
{
    switch (error) {
    case EPIPE: return Status::Refused;
    case ETIMEDOUT: return Status::TimedOut;
    case ENODEV:
    case ESHUTDOWN: return Status::Gone;
    default: return Status::Failed;
    }
}

}  // namespace

std::uint64_t CallClockMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

Outcome WithinLimit(Outcome outcome, std::uint64_t startMs, std::uint32_t timeLimitMs, const std::string& name)
{
    const std::uint64_t took = CallClockMs() - startMs;
    if (took <= timeLimitMs || outcome.status == Status::Gone) return outcome;
    const std::string failure = outcome.Text();
    return Failure(Status::TimedOut, name,
                   "returned after " + std::to_string(took) + " ms, its limit is " + std::to_string(timeLimitMs) + " ms" +
                       (outcome.done() ? "" : " (" + failure + ")"));
}

Outcome CallHidraw(int fd, HidrawCall call, std::uint8_t* report, std::size_t length, std::uint32_t timeLimitMs,
                   bool& unpluggedInFlight)
{
    unpluggedInFlight = false;
    const std::string name = CallName(call);
    if (call != HidrawCall::Write && length > kMaxIoctlLength) {
        return Failure(Status::Failed, name, "a report of " + std::to_string(length) + " bytes");
    }
    const std::uint64_t start = CallClockMs();
    long result = -1;
    int callError = 0;
    // Every signal the program takes is blocked in every thread (platform/linux/session_guard.h),
    // so an interruption is rare; the call is made again while its limit lasts.
    do {
        result = Perform(fd, call, report, length);
        callError = errno;
    } while (result < 0 && callError == EINTR && CallClockMs() - start < timeLimitMs);

    Outcome outcome = Done();
    if (result < 0) {
        outcome = Failure(StatusOfError(callError), name, ErrorText(callError));
        unpluggedInFlight = callError == ESHUTDOWN;
    } else if (call == HidrawCall::GetInputReport) {
        const std::size_t got = std::min(static_cast<std::size_t>(result), length);
        if (got == 0) {
            outcome = Failure(Status::Failed, name, "an empty report");
        } else {
            std::fill(report + got, report + length, 0);
        }
    } else if (static_cast<std::size_t>(result) != length) {
        outcome = Failure(Status::Failed, name, std::to_string(result) + " of " + std::to_string(length) + " bytes");
    }
    return WithinLimit(outcome, start, timeLimitMs, name);
}

}  // namespace platform
