#include "sim/hid_bus.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <map>
#include <thread>

#include "codec/hex_text.h"
#include "sim/bus_capture.h"
#include "sim/trace.h"
#include "sim/world.h"

namespace sim {
namespace {

struct OpenHandle {
    std::shared_ptr<models::HidDevice> device;
    std::size_t collection;
    bool readWrite;
};

std::mutex busMutex;
std::vector<std::shared_ptr<models::HidDevice>> devices;
std::map<platform::DeviceHandle, OpenHandle> handles;
platform::DeviceHandle nextHandle = 0x100;
bool enumerationFails = false;
unsigned nextInstance = 1;

// The kind of operation, for counting and tracing.
enum class Direction { Out, In };

struct Operation {
    const char* event;   // trace event name
    Direction direction;
    BusOperation capture;
};

constexpr Operation kWrite{"write", Direction::Out, BusOperation::Write};
constexpr Operation kRead{"read", Direction::In, BusOperation::Read};
constexpr Operation kSetOutput{"set-output", Direction::Out, BusOperation::SetOutput};
constexpr Operation kGetInput{"get-input", Direction::In, BusOperation::GetInput};

// The read-write handle's entry, or null. Caller holds busMutex.
const OpenHandle* ReadWriteHandle(platform::DeviceHandle handle)
{
    auto found = handles.find(handle);
    if (found == handles.end() || !found->second.readWrite) return nullptr;
    return &found->second;
}

std::string Bytes(std::size_t count) { return std::to_string(count) + " bytes"; }

// Why the class driver refuses an output report on this collection ("" when it takes it): the
// report must have the declared output length and carry the declared report id.
std::string OutputRefusal(const models::HidCollection& collection, const std::uint8_t* report, std::size_t length)
{
    if (collection.outputLength == 0) return "the collection declares no output report";
    if (length != collection.outputLength) {
        return "output report of " + Bytes(length) + ", the collection declares " +
               Bytes(collection.outputLength);
    }
    if (report[0] != collection.outputReportId) {
        return "output report id " + std::to_string(report[0]) + ", the collection declares " +
               std::to_string(collection.outputReportId);
    }
    return "";
}

// Why the class driver refuses an input request on this collection ("" when it takes it): the
// buffer must hold the declared input report, and a get-input request must name its id.
std::string InputRefusal(const models::HidCollection& collection, const std::uint8_t* buffer, std::size_t length,
                         bool namesReportId)
{
    if (collection.inputLength == 0) return "the collection declares no input report";
    if (length < collection.inputLength) {
        return "input buffer of " + Bytes(length) + ", the collection declares " + Bytes(collection.inputLength);
    }
    if (namesReportId && buffer[0] != collection.inputReportId) {
        return "input report id " + std::to_string(buffer[0]) + ", the collection declares " +
               std::to_string(collection.inputReportId);
    }
    return "";
}

// Traces a refusal of the class driver, when anybody reads the trace.
void TraceStackRefusal(const std::string& why)
{
    if (TraceWanted()) TraceLine("stack " + why);
}

// Windows opens the system's keyboards and mice for itself alone: a read-write open of such a
// collection is refused (access denied); an open without access rights works.
constexpr std::uint16_t kGenericDesktopPage = 0x0001;
constexpr std::uint16_t kMouseUsage = 0x0002;
constexpr std::uint16_t kKeyboardUsage = 0x0006;

bool HeldBySystem(const models::HidCollection& collection)
{
    return collection.usagePage == kGenericDesktopPage &&
           (collection.usage == kMouseUsage || collection.usage == kKeyboardUsage);
}

void RealDelay(std::uint32_t ms)
{
    if (ms) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string OutLine(const Operation& op, const char* status, const std::uint8_t* wire,
                    std::size_t length, const models::HidDevice* device)
{
    std::string line = std::string(op.event) + " " + status + " " + codec::Hex(wire, length);
    if (&op == &kSetOutput) {
        std::vector<std::uint8_t> plain = device ? device->Recover(wire, length)
                                                 : std::vector<std::uint8_t>(wire, wire + length);
        line += " " + codec::Hex(plain.data(), plain.size());
    }
    return line;
}

// Traces one output report, when anybody reads the trace.
void TraceOut(const Operation& op, const char* status, const std::uint8_t* wire, std::size_t length,
              const models::HidDevice* device)
{
    if (TraceWanted()) TraceLine(OutLine(op, status, wire, length, device));
}

// Traces an injected fault, when anybody reads the trace.
void TraceFault(const char* what, std::uint32_t number, const char* effect)
{
    if (!TraceWanted()) return;
    std::string line = std::string("fault ") + what + " " + std::to_string(number);
    if (*effect) line += std::string(" ") + effect;
    TraceLine(line);
}

// Traces one input report (read or get-input request), when anybody reads the trace; the bytes
// only when the device answered.
void TraceIn(const std::string& event, const char* status, const std::uint8_t* buffer = nullptr,
             std::size_t length = 0)
{
    if (TraceWanted()) TraceLine(event + " " + status + " " + codec::Hex(buffer, length));
}

bool FromOn(std::uint32_t number, std::uint32_t first) { return first != 0 && number >= first; }

using capture::CaptureStatus;

// How an operation on the bus ended, as the seam hands it back.
constexpr const char* kDeviceGone = "the device is gone";
constexpr const char* kDeviceRefused = "the device refused it";

platform::Outcome Ended(const Operation& op, platform::Status status, const std::string& reason)
{
    return platform::Failure(status, op.event, reason);
}

platform::Outcome NoAnswer(const Operation& op, std::uint32_t timeLimitMs)
{
    return Ended(op, platform::Status::TimedOut, "no answer within " + std::to_string(timeLimitMs) + " ms");
}

platform::Outcome NoHandleOrGone(const Operation& op, const models::HidDevice* device)
{
    if (device != nullptr && device->removed) return Ended(op, platform::Status::Gone, kDeviceGone);
    return Ended(op, platform::Status::Failed, "no read-write handle, or nothing to transfer");
}

// One output report (write or set-output request) through the bus and its faults.
platform::Outcome Output(const Operation& op, platform::DeviceHandle handle, const std::uint8_t* report,
                         std::size_t length, std::uint32_t timeLimitMs)
{
    std::shared_ptr<models::HidDevice> device;
    std::uint32_t number = 0;
    std::size_t collection = 0;
    const std::uint64_t started = CaptureStartTime();
    {
        std::lock_guard<std::mutex> lock(busMutex);
        const OpenHandle* open = ReadWriteHandle(handle);
        if (open) {
            device = open->device;
            collection = open->collection;
        }
        if (!device || device->removed || !report || length == 0) {
            TraceOut(op, "fail", report, report ? length : 0, device.get());
            if (device && device->removed && report) {
                CaptureOperation(*device, collection, op.capture, CaptureStatus::DeviceGone, report, length, started);
            }
            return NoHandleOrGone(op, device.get());
        }
        const std::string refusal = OutputRefusal(device->collections[open->collection], report, length);
        if (!refusal.empty()) {
            ++device->stackRefusals;
            TraceStackRefusal(refusal);
            TraceOut(op, "fail", report, length, device.get());
            return Ended(op, platform::Status::Refused, refusal);
        }
        number = ++device->reportsSeen;
        if (number == device->faults.removeBeforeReport) {
            device->removed = true;
            TraceFault("device removed before report", number, "");
            TraceOut(op, "fail", report, length, device.get());
            CaptureOperation(*device, collection, op.capture, CaptureStatus::DeviceGone, report, length, started);
            return Ended(op, platform::Status::Gone, kDeviceGone);
        }
        if (number == device->faults.refuseReport || FromOn(number, device->faults.refuseFromReport)) {
            TraceFault("report", number, "refused");
            TraceOut(op, "fail", report, length, device.get());
            CaptureOperation(*device, collection, op.capture, CaptureStatus::Refused, report, length, started);
            return Ended(op, platform::Status::Refused, kDeviceRefused);
        }
    }
    if (number == device->faults.stallReport || FromOn(number, device->faults.stallFromReport)) {
        TraceFault("report", number, "never completes");
        WaitSimulated(timeLimitMs);
        TraceOut(op, "timeout", report, length, device.get());
        CaptureOperation(*device, collection, op.capture, CaptureStatus::TimedOut, report, length, started);
        return NoAnswer(op, timeLimitMs);
    }
    RealDelay(device->latencyMs);
    std::lock_guard<std::mutex> lock(busMutex);
    if (device->removed) {  // unplugged while the report was on its way
        TraceOut(op, "fail", report, length, device.get());
        CaptureOperation(*device, collection, op.capture, CaptureStatus::Unplugged, report, length, started);
        return Ended(op, platform::Status::Gone, kDeviceGone);
    }
    const bool accepted = &op == &kWrite ? device->OnWrite(report, length)
                                         : device->OnSetOutputReport(report, length);
    TraceOut(op, accepted ? "ok" : "fail", report, length, device.get());
    CaptureOperation(*device, collection, op.capture, accepted ? CaptureStatus::Completed : CaptureStatus::Refused, report,
                     length, started);
    if (accepted) {
        ++device->reportsAccepted;
        if (device->reportsAccepted == device->faults.removeAfterReports) {
            device->removed = true;
            TraceFault("device removed after report", number, "");
        }
    }
    return accepted ? platform::Done() : Ended(op, platform::Status::Refused, kDeviceRefused);
}

// One input report (read or get-input request) through the bus and its faults.
platform::Outcome Input(const Operation& op, platform::DeviceHandle handle, std::uint8_t* buffer,
                        std::size_t length, std::uint32_t timeLimitMs)
{
    const std::string event = op.event;
    std::shared_ptr<models::HidDevice> device;
    std::uint32_t number = 0;
    std::size_t collection = 0;
    const std::uint64_t started = CaptureStartTime();
    {
        std::lock_guard<std::mutex> lock(busMutex);
        const OpenHandle* open = ReadWriteHandle(handle);
        if (open) {
            device = open->device;
            collection = open->collection;
        }
        if (!device || device->removed || !buffer || length == 0) {
            TraceIn(event, "fail");
            if (device && device->removed && buffer) {
                CaptureOperation(*device, collection, op.capture, CaptureStatus::DeviceGone, buffer, length, started);
            }
            return NoHandleOrGone(op, device.get());
        }
        const std::string refusal =
            InputRefusal(device->collections[open->collection], buffer, length, &op == &kGetInput);
        if (!refusal.empty()) {
            ++device->stackRefusals;
            TraceStackRefusal(refusal);
            TraceIn(event, "fail");
            return Ended(op, platform::Status::Refused, refusal);
        }
        number = ++device->repliesSeen;
        if (number == device->faults.failReply) {
            TraceFault("reply", number, "fails");
            TraceIn(event, "fail");
            CaptureOperation(*device, collection, op.capture, CaptureStatus::Failed, buffer, length, started);
            return Ended(op, platform::Status::Failed, "the reply failed");
        }
    }
    if (number == device->faults.stallReply) {
        TraceFault("reply", number, "never comes");
        WaitSimulated(timeLimitMs);
        TraceIn(event, "timeout");
        CaptureOperation(*device, collection, op.capture, CaptureStatus::TimedOut, buffer, length, started);
        return NoAnswer(op, timeLimitMs);
    }
    RealDelay(device->latencyMs);
    std::lock_guard<std::mutex> lock(busMutex);
    if (device->removed) {  // unplugged while the request was on its way
        TraceIn(event, "fail");
        CaptureOperation(*device, collection, op.capture, CaptureStatus::Unplugged, buffer, length, started);
        return Ended(op, platform::Status::Gone, kDeviceGone);
    }
    const bool answered = &op == &kRead ? device->OnRead(buffer, length)
                                        : device->OnGetInputReport(buffer, length);
    if (answered) TraceIn(event, "ok", buffer, length);
    else TraceIn(event, "fail");
    CaptureOperation(*device, collection, op.capture, answered ? CaptureStatus::Completed : CaptureStatus::Refused, buffer,
                     length, started);
    return answered ? platform::Done() : Ended(op, platform::Status::Refused, kDeviceRefused);
}

}  // namespace

void Plug(std::shared_ptr<models::HidDevice> device)
{
    std::lock_guard<std::mutex> lock(busMutex);
    char instance[32];
    std::snprintf(instance, sizeof instance, "7&1a2b3c4d&0&%04x", nextInstance++);
    device->instanceId = instance;
    device->removed = false;
    CaptureDevicePlugged(*device);
    devices.push_back(std::move(device));
}

void Unplug(const std::shared_ptr<models::HidDevice>& device)
{
    std::lock_guard<std::mutex> lock(busMutex);
    device->removed = true;
    TraceLine("fault device removed");
}

void ResetBus()
{
    std::lock_guard<std::mutex> lock(busMutex);
    devices.clear();
    handles.clear();
    enumerationFails = false;
    nextInstance = 1;
}

void SetEnumerationFails(bool fails)
{
    std::lock_guard<std::mutex> lock(busMutex);
    enumerationFails = fails;
}

int OpenHandleCount()
{
    std::lock_guard<std::mutex> lock(busMutex);
    return static_cast<int>(handles.size());
}

int OpenReadWriteHandleCount()
{
    std::lock_guard<std::mutex> lock(busMutex);
    return static_cast<int>(std::count_if(handles.begin(), handles.end(),
                                          [](const auto& entry) { return entry.second.readWrite; }));
}

std::shared_ptr<models::HidDevice> DeviceOfHandle(platform::DeviceHandle handle)
{
    std::lock_guard<std::mutex> lock(busMutex);
    auto found = handles.find(handle);
    return found == handles.end() ? nullptr : found->second.device;
}

std::vector<std::string> PresentPaths()
{
    std::lock_guard<std::mutex> lock(busMutex);
    std::vector<std::string> paths;
    for (const auto& device : devices) {
        if (device->removed) continue;
        for (std::size_t i = 0; i < device->collections.size(); ++i) paths.push_back(device->PathOf(i));
    }
    return paths;
}

platform::Outcome BusEnumerate(std::vector<std::string>& paths)
{
    {
        std::lock_guard<std::mutex> lock(busMutex);
        if (enumerationFails) return platform::Failure(platform::Status::Failed, "enumerate", "the enumeration fails");
    }
    const std::vector<std::string> present = PresentPaths();
    paths.insert(paths.end(), present.begin(), present.end());
    return platform::Done();
}

platform::Opened BusOpen(const std::string& path, bool readWrite)
{
    std::lock_guard<std::mutex> lock(busMutex);
    const char* kind = readWrite ? "rw" : "probe";
    const auto refuse = [&](platform::Status status, const char* systemError) {
        TraceLine(std::string("open ") + kind + " fail " + path);
        return platform::Opened{platform::kInvalidHandle,
                                platform::Failure(status, readWrite ? "CreateFile for reading and writing" : "CreateFile",
                                                  systemError)};
    };
    for (const auto& device : devices) {
        if (device->removed) continue;
        for (std::size_t i = 0; i < device->collections.size(); ++i) {
            if (device->PathOf(i) != path) continue;
            const bool heldBySystem = readWrite && HeldBySystem(device->collections[i]);
            if (heldBySystem) {
                TraceStackRefusal("read-write open of a keyboard or mouse, which the system holds");
                return refuse(platform::Status::Denied, "error 5 (Access is denied.)");
            }
            if (readWrite ? device->faults.readWriteOpenRefused : device->faults.probeOpenFails) {
                return refuse(platform::Status::Held,
                              "error 32 (The process cannot access the file because it is being used by another process.)");
            }
            const platform::DeviceHandle handle = nextHandle++;
            handles[handle] = OpenHandle{device, i, readWrite};
            TraceLine(std::string("open ") + kind + " ok " + path);
            return {handle, platform::Done()};
        }
    }
    return refuse(platform::Status::Gone, "error 2 (The system cannot find the file specified.)");
}

namespace {

// Why the identification of a handle's device fails (null: no such handle), or Done.
platform::Outcome Identification(const char* operation, const OpenHandle* open, bool unreadable)
{
    if (open == nullptr) return platform::Failure(platform::Status::Failed, operation, "no such handle");
    if (open->device->removed) return platform::Failure(platform::Status::Gone, operation, kDeviceGone);
    if (unreadable) return platform::Failure(platform::Status::Failed, operation, "unreadable");
    return platform::Done();
}

}  // namespace

platform::Outcome BusGetAttributes(platform::DeviceHandle handle, std::uint16_t& vendorId, std::uint16_t& productId)
{
    std::lock_guard<std::mutex> lock(busMutex);
    auto found = handles.find(handle);
    const OpenHandle* open = found == handles.end() ? nullptr : &found->second;
    const platform::Outcome known =
        Identification("HidD_GetAttributes", open, open && open->device->faults.attributesUnreadable);
    if (!known) return known;
    vendorId = open->device->vendorId;
    productId = open->device->productId;
    return known;
}

platform::Outcome BusGetCollection(platform::DeviceHandle handle, models::HidCollection& collection)
{
    std::lock_guard<std::mutex> lock(busMutex);
    auto found = handles.find(handle);
    const OpenHandle* open = found == handles.end() ? nullptr : &found->second;
    const platform::Outcome known = Identification("HidP_GetCaps", open, open && open->device->faults.capsUnreadable);
    if (!known) return known;
    collection = open->device->collections[open->collection];
    return known;
}

platform::Outcome BusWrite(platform::DeviceHandle handle, const std::uint8_t* report, std::size_t length,
              std::uint32_t timeLimitMs)
{
    return Output(kWrite, handle, report, length, timeLimitMs);
}

platform::Outcome BusSetOutputReport(platform::DeviceHandle handle, const std::uint8_t* report, std::size_t length,
                        std::uint32_t timeLimitMs)
{
    return Output(kSetOutput, handle, report, length, timeLimitMs);
}

platform::Outcome BusRead(platform::DeviceHandle handle, std::uint8_t* buffer, std::size_t length,
             std::uint32_t timeLimitMs)
{
    return Input(kRead, handle, buffer, length, timeLimitMs);
}

platform::Outcome BusGetInputReport(platform::DeviceHandle handle, std::uint8_t* buffer, std::size_t length,
                       std::uint32_t timeLimitMs)
{
    return Input(kGetInput, handle, buffer, length, timeLimitMs);
}

platform::Outcome BusFlushInput(platform::DeviceHandle handle)
{
    std::lock_guard<std::mutex> lock(busMutex);
    const OpenHandle* open = ReadWriteHandle(handle);
    const bool flushed = open != nullptr && !open->device->removed;
    TraceLine(std::string("flush ") + (flushed ? "ok" : "fail"));
    if (flushed) return platform::Done();
    return open ? platform::Failure(platform::Status::Gone, "flush", kDeviceGone)
                : platform::Failure(platform::Status::Failed, "flush", "no read-write handle");
}

void BusClose(platform::DeviceHandle handle)
{
    std::lock_guard<std::mutex> lock(busMutex);
    handles.erase(handle);
}

}  // namespace sim
