#include "platform/win32/overlapped.h"

#include <cstring>
#include <new>

namespace platform {

OverlappedOperation* NewOverlappedOperation(const std::uint8_t* data, std::size_t dataSize,
                                            std::size_t bufferSize)
{
    if (dataSize > bufferSize || (data == nullptr && dataSize != 0)) return nullptr;
    auto* operation = new (std::nothrow) OverlappedOperation;
    if (operation == nullptr) return nullptr;
    operation->buffer.assign(bufferSize, 0);
    if (dataSize != 0) std::memcpy(operation->buffer.data(), data, dataSize);
    operation->overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (operation->overlapped.hEvent == nullptr) {
        delete operation;
        return nullptr;
    }
    return operation;
}

OverlappedResult WaitForOverlapped(HANDLE handle, OverlappedOperation& operation, bool completed,
                                   DWORD startError, std::uint32_t timeLimitMs)
{
    OverlappedResult result;
    if (!completed && startError != ERROR_IO_PENDING) {
        result.error = startError;
        return result;
    }
    if (!completed && WaitForSingleObject(operation.overlapped.hEvent, timeLimitMs) != WAIT_OBJECT_0) {
        result.timedOut = true;
        CancelIoEx(handle, &operation.overlapped);
        if (WaitForSingleObject(operation.overlapped.hEvent, kCancelGraceMs) != WAIT_OBJECT_0) {
            result.abandoned = true;
            result.error = ERROR_TIMEOUT;
            return result;
        }
    }
    result.done = GetOverlappedResult(handle, &operation.overlapped, &result.transferred, FALSE) != FALSE;
    if (!result.done) {
        result.error = GetLastError();
        result.transferred = 0;
    }
    return result;
}

void EndOverlappedOperation(OverlappedOperation* operation, const OverlappedResult& result)
{
    if (operation == nullptr || result.abandoned) return;
    CloseHandle(operation->overlapped.hEvent);
    delete operation;
}

}  // namespace platform
