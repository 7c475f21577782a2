// Overlapped operations bounded by a time limit, on handles opened with FILE_FLAG_OVERLAPPED.
//
// Each operation works on memory of its own: an OVERLAPPED record, its event and its own copy
// of the caller's bytes. It waits at most its time limit; an operation that runs out of time is
// cancelled (CancelIoEx), and one whose cancellation does not end it within kCancelGraceMs is
// abandoned with its memory, which the system may still write and which is therefore never
// released. Nothing refers to the caller's memory once an operation has returned.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {

// How long a cancelled operation may take to end. A driver may keep a request pending until its
// device answers and never pass the cancellation on (Wine's HID class driver does so for writes,
// set-output and get-input requests): such an operation is abandoned after this time.
inline constexpr DWORD kCancelGraceMs = 1000;

// How an operation ended.
struct OverlappedResult {
    bool done = false;       // it completed and succeeded
    DWORD transferred = 0;   // bytes the system reports for a completed operation
    DWORD error = 0;         // the system's error code when it did not succeed
    bool timedOut = false;   // its time limit ran out and it was cancelled
    bool abandoned = false;  // its cancellation did not end it within kCancelGraceMs
};

// The memory of one operation; it lives on the heap so that it can be abandoned.
struct OverlappedOperation {
    OVERLAPPED overlapped{};
    std::vector<std::uint8_t> buffer;
};

// A new operation with its event and a buffer of bufferSize bytes that starts with the
// dataSize bytes at data (data may be null when dataSize is 0) and is zero beyond them.
// Null when the memory or the event can't be had.
OverlappedOperation* NewOverlappedOperation(const std::uint8_t* data, std::size_t dataSize,
                                            std::size_t bufferSize);

// Waits for an operation that its starting call left as it says: completed at once (true), or
// not (false, with the system's error code of that call: ERROR_IO_PENDING for one under way).
// An operation under way is waited for at most timeLimitMs, then cancelled and waited for at
// most kCancelGraceMs; one that completes in the instant its limit runs out counts with what it
// reports.
OverlappedResult WaitForOverlapped(HANDLE handle, OverlappedOperation& operation, bool completed,
                                   DWORD startError, std::uint32_t timeLimitMs);

// Releases the operation's memory and event, unless it was abandoned.
void EndOverlappedOperation(OverlappedOperation* operation, const OverlappedResult& result);

// One bounded operation: start(handle, buffer, overlapped) begins it on the operation's buffer
// (a copy of dataSize bytes at data, bufferSize bytes long) and returns whether the call
// completed at once; when it succeeded, keep(buffer, transferred) takes what the caller needs
// before the buffer is released.
template <typename Start, typename Keep>
OverlappedResult RunBoundedOverlapped(HANDLE handle, std::uint32_t timeLimitMs, const std::uint8_t* data,
                                      std::size_t dataSize, std::size_t bufferSize, Start start, Keep keep)
{
    OverlappedResult result;
    OverlappedOperation* operation = NewOverlappedOperation(data, dataSize, bufferSize);
    if (operation == nullptr) {
        result.error = ERROR_NOT_ENOUGH_MEMORY;
        return result;
    }
    const bool completed = start(handle, operation->buffer.data(), &operation->overlapped);
    const DWORD startError = completed ? 0 : GetLastError();
    result = WaitForOverlapped(handle, *operation, completed, startError, timeLimitMs);
    if (result.done) keep(operation->buffer.data(), result.transferred);
    EndOverlappedOperation(operation, result);
    return result;
}

}  // namespace platform
