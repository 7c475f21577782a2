// How a call of the seam ended, and why, handed back as a value: the one way a failure's reason
// travels from a backend to the core and on to a front end. Nothing of it stays behind in the
// backend.
#pragma once

#include <string>
#include <utility>

#include "platform/types.h"

namespace platform {

enum class Status {
    Done,      // it did what was asked
    Refused,   // the device or its driver refused it (a stall; a report the collection does not declare)
    TimedOut,  // no answer within its time limit
    Gone,      // the device went away
    Denied,    // this user may not open the device
    Held,      // another program holds the device
    Failed,    // any other failure
};

struct Outcome {
    Status status = Status::Done;
    // When it failed: what was asked of the system, on what ("open for reading and writing
    // /dev/hidraw3", "WriteFile"), and the system's reason ("Permission denied", "error 5 (Access is
    // denied.)"). node: the device node that could not be opened, or whose interface could not be
    // claimed, when that is why it failed ("/dev/hidraw3", "/dev/bus/usb/001/004"); a front end may
    // tell its user who may open it.
    std::string operation;
    std::string reason;
    std::string node;

    bool done() const { return status == Status::Done; }
    explicit operator bool() const { return done(); }
    // "operation: reason", for the debugger output.
    std::string Text() const
    {
        if (operation.empty() || reason.empty()) return operation + reason;
        return operation + ": " + reason;
    }
};

inline Outcome Done() { return {}; }
inline Outcome Failure(Status status, std::string operation, std::string reason, std::string node = "")
{
    return {status, std::move(operation), std::move(reason), std::move(node)};
}

// An open: the handle (kInvalidHandle when it failed) and how it went.
struct Opened {
    DeviceHandle handle = kInvalidHandle;
    Outcome outcome;
};

}  // namespace platform
