// Blocking hidraw calls (write, HIDIOCSOUTPUT, HIDIOCGINPUT) bounded by a time limit.
//
// A hidraw write or report ioctl returns only when the driver is done with it, and the driver may
// keep it waiting for the device (usbhid waits for the USB transfer, uhid for the device
// program's reply). So each call runs on a thread of its own handle, the caller waits at most its
// limit, and a call that runs out of time is interrupted with a signal. A call that still does
// not return within a grace time is abandoned: its thread, its descriptor and its own copy of the
// report stay alive until the kernel gives the call back, so no memory that the kernel may still
// write is ever freed, and the handle gets a new thread for its next call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// A descriptor that is closed when the last of its users lets it go.
struct OpenDescriptor {
    explicit OpenDescriptor(int descriptor) : fd(descriptor) {}
    ~OpenDescriptor();
    OpenDescriptor(const OpenDescriptor&) = delete;
    OpenDescriptor& operator=(const OpenDescriptor&) = delete;
    const int fd;
};

enum class BlockingCallKind { Write, SetOutputReport, GetInputReport };

// How a call ended.
enum class CallOutcome {
    Done,        // it returned the whole report
    TimedOut,    // no answer within its limit
    DeviceGone,  // the device was unplugged
    Failed,      // any other error
};

struct CallRunner;

// The thread that runs one handle's blocking calls (made on its first call).
class BoundedCaller {
public:
    BoundedCaller() = default;
    ~BoundedCaller();
    BoundedCaller(const BoundedCaller&) = delete;
    BoundedCaller& operator=(const BoundedCaller&) = delete;

    // Runs one call on descriptor with report (length bytes; for GetInputReport the reply
    // replaces it). Done when the call returned length bytes (GetInputReport: at least one)
    // within timeLimitMs; otherwise error says what happened.
    CallOutcome Run(const std::shared_ptr<OpenDescriptor>& descriptor, BlockingCallKind kind,
             std::uint8_t* report, std::size_t length, std::uint32_t timeLimitMs, std::string& error);

private:
    std::shared_ptr<CallRunner> runner_;
};

}  // namespace platform
