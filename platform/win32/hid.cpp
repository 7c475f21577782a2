// HID devices through SetupAPI, hid.dll and overlapped file I/O.
//
// hid.dll is not a KnownDLL, so it is never imported: it is loaded from the system directory
// at first use and its functions are looked up by name. Every report operation is overlapped,
// on a copy of the report of its own, and waits at most its time limit; an operation that runs
// out of time is cancelled, and one whose cancellation does not end it is abandoned with its
// copy.
#include "platform/hid.h"

#include <windows.h>
#include <setupapi.h>
#include <winioctl.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "platform/win32/hid_class.h"
#include "platform/win32/overlapped.h"
#include "platform/system.h"
#include "platform/win32/system_error.h"
#include "platform/win32/system_library.h"

namespace platform {

namespace {

// The records of the HID class driver interface, as hidsdi.h and hidpi.h define them.
struct HiddAttributes {
    ULONG Size;
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
};

struct HidpCaps {
    USHORT Usage;
    USHORT UsagePage;
    USHORT InputReportByteLength;
    USHORT OutputReportByteLength;
    USHORT FeatureReportByteLength;
    USHORT Reserved[17];
    USHORT NumberLinkCollectionNodes;
    USHORT NumberInputButtonCaps;
    USHORT NumberInputValueCaps;
    USHORT NumberInputDataIndices;
    USHORT NumberOutputButtonCaps;
    USHORT NumberOutputValueCaps;
    USHORT NumberOutputDataIndices;
    USHORT NumberFeatureButtonCaps;
    USHORT NumberFeatureValueCaps;
    USHORT NumberFeatureDataIndices;
};

using PreparsedData = void*;
constexpr LONG kHidpStatusSuccess = 0x00110000;

// The HID class requests for one output and one input report (hidclass.h).
constexpr DWORD kFileDeviceKeyboard = 0x0000000b;
constexpr DWORD kIoctlHidSetOutputReport =
    CTL_CODE(kFileDeviceKeyboard, 101, METHOD_IN_DIRECT, FILE_ANY_ACCESS);
constexpr DWORD kIoctlHidGetInputReport =
    CTL_CODE(kFileDeviceKeyboard, 104, METHOD_OUT_DIRECT, FILE_ANY_ACCESS);

// {4D1E55B2-F16F-11CF-88CB-001111000030}, used only if hid.dll cannot be loaded.
constexpr GUID kHidClassGuid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

// The fixed part of the detail record, which its cbSize must give: 5 bytes in 32-bit programs,
// 8 in 64-bit ones.
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == (sizeof(void*) == 8 ? 8 : 5));

// A detail record larger than this is not a device path.
constexpr DWORD kMaxDetailSize = 64 * 1024;

struct HidLibrary {
    void(WINAPI* getHidGuid)(GUID*) = nullptr;
    BOOLEAN(WINAPI* getAttributes)(HANDLE, HiddAttributes*) = nullptr;
    BOOLEAN(WINAPI* getPreparsedData)(HANDLE, PreparsedData*) = nullptr;
    BOOLEAN(WINAPI* freePreparsedData)(PreparsedData) = nullptr;
    LONG(WINAPI* getCaps)(PreparsedData, HidpCaps*) = nullptr;
    BOOLEAN(WINAPI* flushQueue)(HANDLE) = nullptr;  // not needed to find a device
    bool loaded = false;
};

template <typename Function>
void Resolve(HMODULE module, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

const HidLibrary& Hid()
{
    static const HidLibrary library = [] {
        HidLibrary result;
        HMODULE module = LoadSystemLibrary("hid.dll");
        if (module == nullptr) return result;
        Resolve(module, "HidD_GetHidGuid", result.getHidGuid);
        Resolve(module, "HidD_GetAttributes", result.getAttributes);
        Resolve(module, "HidD_GetPreparsedData", result.getPreparsedData);
        Resolve(module, "HidD_FreePreparsedData", result.freePreparsedData);
        Resolve(module, "HidP_GetCaps", result.getCaps);
        Resolve(module, "HidD_FlushQueue", result.flushQueue);
        result.loaded = result.getHidGuid && result.getAttributes && result.getPreparsedData &&
                        result.freePreparsedData && result.getCaps;
        return result;
    }();
    return library;
}

HANDLE ToHandle(DeviceHandle handle) { return reinterpret_cast<HANDLE>(handle); }
DeviceHandle FromHandle(HANDLE handle) { return reinterpret_cast<DeviceHandle>(handle); }

bool Usable(DeviceHandle handle) { return handle != kInvalidHandle && handle != 0; }

// What a failed call's error code means.
Status StatusOfError(DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED: return Status::Denied;
    case ERROR_SHARING_VIOLATION: return Status::Held;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST: return Status::Gone;
    case ERROR_GEN_FAILURE: return Status::Refused;  // the driver failed the request (a stall)
    default: return Status::Failed;
    }
}

Outcome NotUsable(const char* operation) { return Failure(Status::Failed, operation, "no usable handle"); }

// kInvalidHandle when the open fails; the system's error is then GetLastError's.
DeviceHandle OpenPath(const std::string& path, DWORD access, DWORD flags)
{
    if (path.empty()) {
        SetLastError(ERROR_INVALID_NAME);
        return kInvalidHandle;
    }
    HANDLE handle = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, flags, nullptr);
    return handle == nullptr ? kInvalidHandle : FromHandle(handle);
}

// Why a report operation failed: the system's error text, or how its time limit ended it. A
// debugger line tells it.
Outcome TellFailure(const char* operation, const OverlappedResult& result, std::uint32_t timeLimitMs)
{
    const std::string limit = std::to_string(timeLimitMs) + " ms";
    Outcome failure;
    if (result.abandoned) {
        failure = Failure(Status::TimedOut, operation, "no answer within " + limit + "; its cancellation did not end it, given up");
    } else if (result.timedOut) {
        failure = Failure(Status::TimedOut, operation, "no answer within " + limit + ", cancelled");
    } else {
        failure = Failure(StatusOfError(result.error), operation, SystemErrorText(result.error));
    }
    DebugOutput(failure.Text().c_str());
    return failure;
}

// One bounded operation on a copy of report (length bytes), started by
// start(handle, copy, overlapped). When it succeeded and copyBack is set, the copy goes back into
// report; when it failed, a debugger line names the operation and why.
template <typename Start>
Outcome RunBounded(const char* operation, DeviceHandle device, std::uint32_t timeLimitMs, std::uint8_t* report,
                   std::size_t length, bool copyBack, Start start)
{
    if (!Usable(device)) return NotUsable(operation);
    const OverlappedResult result =
        RunBoundedOverlapped(ToHandle(device), timeLimitMs, report, length, length, start,
                             [&](const std::uint8_t* copy, DWORD) {
                                 if (copyBack) std::memcpy(report, copy, length);
                             });
    if (!result.done) return TellFailure(operation, result, timeLimitMs);
    return Done();
}

bool FitsDword(std::size_t length) { return length > 0 && length <= 0xFFFFFFFFu; }

}  // namespace

GUID HidInterfaceClassGuid()
{
    const HidLibrary& hid = Hid();
    if (!hid.loaded) return kHidClassGuid;
    GUID guid;
    hid.getHidGuid(&guid);
    return guid;
}

Outcome HidEnumerateInterfaces(std::vector<std::string>& paths)
{
    if (!Hid().loaded) return Failure(Status::Failed, "hid.dll", "not loaded");
    GUID guid = HidInterfaceClassGuid();
    HDEVINFO set = SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return Failure(Status::Failed, "SetupDiGetClassDevs", SystemErrorText(GetLastError()));

    constexpr DWORD kFixedPart = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    constexpr DWORD kPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof(interfaceData);
        if (!SetupDiEnumDeviceInterfaces(set, nullptr, &guid, index, &interfaceData)) break;

        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, nullptr, 0, &required, nullptr);
        if (required < kFixedPart || required > kMaxDetailSize) continue;

        // DWORD elements keep the record aligned; one spare element guarantees a final NUL.
        std::vector<DWORD> block(required / sizeof(DWORD) + 2, 0);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(block.data());
        detail->cbSize = kFixedPart;
        if (!SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, detail, required, nullptr, nullptr))
            continue;
        const char* path = detail->DevicePath;
        std::size_t length = strnlen(path, required - kPathOffset);
        if (length > 0) paths.emplace_back(path, length);
    }
    SetupDiDestroyDeviceInfoList(set);
    return Done();
}

Opened HidOpenProbe(const std::string& path)
{
    const DeviceHandle handle = OpenPath(path, 0, 0);
    if (handle != kInvalidHandle) return {handle, Done()};
    const DWORD error = GetLastError();
    return {kInvalidHandle, Failure(StatusOfError(error), "CreateFile", SystemErrorText(error), path)};
}

Opened HidOpenReadWrite(const std::string& path)
{
    const DeviceHandle handle = OpenPath(path, GENERIC_READ | GENERIC_WRITE, FILE_FLAG_OVERLAPPED);
    if (handle != kInvalidHandle) return {handle, Done()};
    const DWORD error = GetLastError();
    return {kInvalidHandle,
            Failure(StatusOfError(error), "CreateFile for reading and writing", SystemErrorText(error), path)};
}

Outcome HidGetAttributes(DeviceHandle handle, std::uint16_t& vendorId, std::uint16_t& productId)
{
    const HidLibrary& hid = Hid();
    if (!hid.loaded || !Usable(handle)) return NotUsable("HidD_GetAttributes");
    HiddAttributes attributes{};
    attributes.Size = sizeof(attributes);
    if (!hid.getAttributes(ToHandle(handle), &attributes)) {
        return Failure(Status::Failed, "HidD_GetAttributes", SystemErrorText(GetLastError()));
    }
    vendorId = attributes.VendorID;
    productId = attributes.ProductID;
    return Done();
}

Outcome HidGetCaps(DeviceHandle handle, HidCaps& caps)
{
    const HidLibrary& hid = Hid();
    if (!hid.loaded || !Usable(handle)) return NotUsable("HidD_GetPreparsedData");
    PreparsedData preparsed = nullptr;
    if (!hid.getPreparsedData(ToHandle(handle), &preparsed) || preparsed == nullptr) {
        return Failure(Status::Failed, "HidD_GetPreparsedData", SystemErrorText(GetLastError()));
    }
    HidpCaps read{};
    const bool known = hid.getCaps(preparsed, &read) == kHidpStatusSuccess;
    hid.freePreparsedData(preparsed);
    if (!known) return Failure(Status::Failed, "HidP_GetCaps", "the collection's caps cannot be read");
    caps.Usage = read.Usage;
    caps.UsagePage = read.UsagePage;
    caps.InputReportByteLength = read.InputReportByteLength;
    caps.OutputReportByteLength = read.OutputReportByteLength;
    return Done();
}

Outcome HidFlushInput(DeviceHandle handle)
{
    const HidLibrary& hid = Hid();
    if (hid.flushQueue == nullptr || !Usable(handle)) return NotUsable("HidD_FlushQueue");
    if (hid.flushQueue(ToHandle(handle)) != FALSE) return Done();
    return Failure(Status::Failed, "HidD_FlushQueue", SystemErrorText(GetLastError()));
}

Outcome HidWriteReport(DeviceHandle handle, const std::uint8_t* report, std::size_t length,
                       std::uint32_t timeLimitMs)
{
    if (report == nullptr || !FitsDword(length)) return Failure(Status::Failed, "WriteFile", "no report");
    return RunBounded("WriteFile", handle, timeLimitMs, const_cast<std::uint8_t*>(report), length, false,
                      [&](HANDLE device, std::uint8_t* copy, OVERLAPPED* overlapped) {
                          return WriteFile(device, copy, static_cast<DWORD>(length), nullptr, overlapped) != FALSE;
                      });
}

Outcome HidReadReport(DeviceHandle handle, std::uint8_t* buffer, std::size_t length,
                      std::uint32_t timeLimitMs)
{
    if (buffer == nullptr || !FitsDword(length)) return Failure(Status::Failed, "ReadFile", "no buffer");
    return RunBounded("ReadFile", handle, timeLimitMs, buffer, length, true,
                      [&](HANDLE device, std::uint8_t* copy, OVERLAPPED* overlapped) {
                          return ReadFile(device, copy, static_cast<DWORD>(length), nullptr, overlapped) != FALSE;
                      });
}

Outcome HidSetOutputReport(DeviceHandle handle, const std::uint8_t* report, std::size_t length,
                           std::uint32_t timeLimitMs)
{
    if (report == nullptr || !FitsDword(length)) return Failure(Status::Failed, "HidD_SetOutputReport", "no report");
    return RunBounded("HidD_SetOutputReport", handle, timeLimitMs, const_cast<std::uint8_t*>(report), length,
                      false, [&](HANDLE device, std::uint8_t* copy, OVERLAPPED* overlapped) {
                          return DeviceIoControl(device, kIoctlHidSetOutputReport, copy,
                                                 static_cast<DWORD>(length), nullptr, 0, nullptr,
                                                 overlapped) != FALSE;
                      });
}

Outcome HidGetInputReport(DeviceHandle handle, std::uint8_t* buffer, std::size_t length,
                          std::uint32_t timeLimitMs)
{
    if (buffer == nullptr || !FitsDword(length)) return Failure(Status::Failed, "HidD_GetInputReport", "no buffer");
    // The report id in byte 0 tells the driver which report to fetch; the reply replaces it.
    return RunBounded("HidD_GetInputReport", handle, timeLimitMs, buffer, length, true,
                      [&](HANDLE device, std::uint8_t* copy, OVERLAPPED* overlapped) {
                          return DeviceIoControl(device, kIoctlHidGetInputReport, copy,
                                                 static_cast<DWORD>(length), copy,
                                                 static_cast<DWORD>(length), nullptr, overlapped) != FALSE;
                      });
}

void HidClose(DeviceHandle handle)
{
    if (Usable(handle)) CloseHandle(ToHandle(handle));
}

}  // namespace platform
