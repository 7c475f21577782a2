// HID devices through hidraw and libudev, and a USB controller's HID class requests through
// usbfs.
//
// Windows makes one HID interface per top-level collection; hidraw makes one node per device,
// holding all its collections. So each collection of a node is an interface of its own here
// (platform/linux/hidraw.h names them), and each handle belongs to one collection: its caps are that
// collection's, and the backend refuses the reports that the collection does not declare, as the
// Windows class driver refuses them (hidraw itself checks no length), and gives a read only the
// input reports of the handle's collection.
//
// Writes and reads go through the node, as WriteFile and ReadFile go on Windows. The HID class
// requests (set-output, get-input) of a USB controller go on its control endpoint, as on Windows,
// through usbfs (platform/linux/hid_usb.h); on any other transport through hidraw's ioctls. Every
// call is made directly on the calling thread (platform/linux/hid_call.h says what bounds it).
//
// A read-write handle holds an exclusive lock on its node against other programs (flock on a
// descriptor of its own, shared by every read-write handle of this process on the node), so that
// a second program cannot write to a controller that one is writing to.
#include "platform/hid.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/linux/error_text.h"
#include "platform/linux/hid_call.h"
#include "platform/linux/hid_capture.h"
#include "platform/linux/hid_node.h"
#include "platform/linux/hid_usb.h"
#include "platform/linux/hidraw.h"
#include "platform/system.h"

namespace platform {
namespace {

// hidraw queues at most 64 reports per open file (HIDRAW_BUFFER_SIZE); a flush drains at most
// this many before it gives up on a device that keeps sending.
constexpr int kMaxFlushedReports = 1024;

// A report read from hidraw is at most this long (HID_MAX_BUFFER_SIZE).
constexpr std::size_t kMaxReportLength = 16384;

// This process's lock on one node (by the node's inode, so that a node made anew for a device
// plugged in again is a node of its own).
struct NodeLock {
    explicit NodeLock(int descriptor) : fd(descriptor) {}
    ~NodeLock() { close(fd); }
    NodeLock(const NodeLock&) = delete;
    NodeLock& operator=(const NodeLock&) = delete;
    const int fd;
};
using NodeKey = std::pair<dev_t, ino_t>;

// A handle lives while a call uses it: HidClose drops the table's reference only.
struct Handle {
    Handle() = default;
    ~Handle()
    {
        if (fd >= 0) close(fd);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    std::string node;
    int fd = -1;                     // -1 for a probe without access to the node
    std::shared_ptr<NodeLock> lock;  // read-write handles only
    bool readWrite = false;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    codec::HidTopLevelCollection collection;
    bool numbersInputReports = false;
    UsbPlace usb;             // read-write handles: where the class requests go on USB
    CapturedDevice captured;  // read-write handles, while a capture is open
};

std::mutex tableMutex;
std::map<DeviceHandle, std::shared_ptr<Handle>> handles;
std::map<NodeKey, std::weak_ptr<NodeLock>> locks;
DeviceHandle nextHandle = 1;

std::shared_ptr<Handle> Find(DeviceHandle handle)
{
    std::lock_guard<std::mutex> guard(tableMutex);
    auto found = handles.find(handle);
    return found == handles.end() ? nullptr : found->second;
}

DeviceHandle Register(std::shared_ptr<Handle> handle)
{
    std::lock_guard<std::mutex> guard(tableMutex);
    const DeviceHandle id = nextHandle++;
    handles[id] = std::move(handle);
    return id;
}

void Note(const std::string& line) { DebugOutput(("hidraw: " + line).c_str()); }

// This process's lock on the node of fd, taken when no handle of the process holds it yet.
// Null when another program holds it, or when it cannot be taken (error says why).
std::shared_ptr<NodeLock> LockNode(const std::string& node, int fd, bool& heldElsewhere, std::string& error)
{
    heldElsewhere = false;
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        error = ErrorText(errno);
        return nullptr;
    }
    const NodeKey key{status.st_dev, status.st_ino};
    std::lock_guard<std::mutex> guard(tableMutex);
    if (std::shared_ptr<NodeLock> held = locks[key].lock()) return held;
    const int lockFd = open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (lockFd < 0) {
        error = ErrorText(errno);
        return nullptr;
    }
    auto lock = std::make_shared<NodeLock>(lockFd);
    if (flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        heldElsewhere = errno == EWOULDBLOCK;
        error = heldElsewhere ? "another program is writing to it" : ErrorText(errno);
        return nullptr;
    }
    locks[key] = lock;
    return lock;
}

// The node and collection of an interface path, and what is known of them (into facts). fd: an
// open descriptor of the node, or -1 to ask udev.
std::shared_ptr<Handle> Describe(const std::string& path, int fd, HidNodeFacts& facts, std::string& error)
{
    auto handle = std::make_shared<Handle>();
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    unsigned collection = 0;
    if (!SplitInterfacePath(path, handle->node, vendorId, productId, collection)) {
        error = "not an interface path";
        return nullptr;
    }
    const bool known = fd >= 0 ? ReadNodeFactsFromFd(fd, facts, error) : ReadNodeFactsFromPath(handle->node, facts, error);
    if (!known) return nullptr;
    if (facts.vendorId != vendorId || facts.productId != productId || collection > facts.collections.size()) {
        error = "the node is no longer the device of this interface";
        return nullptr;
    }
    handle->vendorId = facts.vendorId;
    handle->productId = facts.productId;
    handle->collection = facts.collections[collection - 1];
    handle->numbersInputReports = facts.numbersInputReports;
    return handle;
}

// The node of an interface path; false for a path that names no collection of a node.
bool NodeOfPath(const std::string& path, std::string& node)
{
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    unsigned collection = 0;
    return SplitInterfacePath(path, node, vendorId, productId, collection);
}

bool Declares(const std::vector<std::uint8_t>& ids, std::uint8_t id)
{
    if (ids.empty()) return id == 0;
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// Why the Windows class driver would refuse this output report on the handle's collection, or "".
std::string OutputRefusal(const Handle& handle, const std::uint8_t* report, std::size_t length)
{
    const codec::HidTopLevelCollection& c = handle.collection;
    if (c.outputReportByteLength == 0) return "the collection declares no output report";
    if (length != c.outputReportByteLength) {
        return "output report of " + std::to_string(length) + " bytes, the collection declares " +
               std::to_string(c.outputReportByteLength);
    }
    if (!Declares(c.outputReportIds, report[0])) return "output report id " + std::to_string(report[0]) + " not declared";
    return "";
}

std::string InputRefusal(const Handle& handle, const std::uint8_t* buffer, std::size_t length, bool namesReportId)
{
    const codec::HidTopLevelCollection& c = handle.collection;
    if (c.inputReportByteLength == 0) return "the collection declares no input report";
    if (length < c.inputReportByteLength) {
        return "input buffer of " + std::to_string(length) + " bytes, the collection declares " +
               std::to_string(c.inputReportByteLength);
    }
    if (namesReportId && !Declares(c.inputReportIds, buffer[0])) {
        return "input report id " + std::to_string(buffer[0]) + " not declared";
    }
    return "";
}

std::shared_ptr<Handle> ReadWriteHandle(DeviceHandle id)
{
    std::shared_ptr<Handle> handle = Find(id);
    return handle && handle->readWrite && handle->fd >= 0 ? handle : nullptr;
}

const char* const kNoReadWriteHandle = "no read-write handle, or nothing to transfer";

// The read-write handle for an input request into buffer, or null when there is none or the
// Windows class driver would refuse the request (a line says why, and refused how).
std::shared_ptr<Handle> InputHandle(DeviceHandle id, const std::uint8_t* buffer, std::size_t length, bool namesReportId,
                                    const char* operation, Outcome& refused)
{
    std::shared_ptr<Handle> handle = ReadWriteHandle(id);
    if (!handle || buffer == nullptr || length == 0) {
        refused = Failure(Status::Failed, operation, kNoReadWriteHandle);
        return nullptr;
    }
    const std::string refusal = InputRefusal(*handle, buffer, length, namesReportId);
    if (refusal.empty()) return handle;
    Note(handle->node + ": refused: " + refusal);
    refused = Failure(Status::Refused, operation, refusal);
    return nullptr;
}

const char* OutputName(HidrawCall call) { return call == HidrawCall::Write ? "write" : "HIDIOCSOUTPUT"; }

// An output report: written (write) or sent as a set-output request, which a USB controller gets
// on its control endpoint.
Outcome Output(DeviceHandle id, HidrawCall call, const std::uint8_t* report, std::size_t length, std::uint32_t timeLimitMs)
{
    std::shared_ptr<Handle> handle = ReadWriteHandle(id);
    if (!handle || report == nullptr || length == 0) return Failure(Status::Failed, OutputName(call), kNoReadWriteHandle);
    const std::string refusal = OutputRefusal(*handle, report, length);
    if (!refusal.empty()) {
        Note(handle->node + ": refused: " + refusal);
        return Failure(Status::Refused, OutputName(call), refusal);
    }
    std::vector<std::uint8_t> copy(report, report + length);
    const bool classRequest = call == HidrawCall::SetOutputReport && handle->usb.usb;
    const std::uint64_t submitted = CaptureSubmitTime(handle->captured);
    bool unpluggedInFlight = false;
    const Outcome outcome = classRequest
                                ? UsbRequest(handle->usb, UsbClassRequest::SetOutputReport, copy.data(), length, timeLimitMs)
                                : CallHidraw(handle->fd, call, copy.data(), length, timeLimitMs, unpluggedInFlight);
    CaptureOutputReport(handle->captured, classRequest || !handle->captured.interruptOut, report, length, outcome.status,
                        unpluggedInFlight, submitted);
    if (!outcome) Note(handle->node + ": " + outcome.Text());
    return outcome;
}

}  // namespace

Outcome HidEnumerateInterfaces(std::vector<std::string>& paths)
{
    std::vector<HidNode> nodes;
    const bool listed = HidEnumerateNodes(nodes);
    for (const HidNode& node : nodes) {
        paths.insert(paths.end(), node.interfacePaths.begin(), node.interfacePaths.end());
    }
    return listed ? Done() : Failure(Status::Failed, "enumerate the hidraw nodes", "udev cannot be asked");
}

Opened HidOpenProbe(const std::string& path)
{
    std::string node;
    if (!NodeOfPath(path, node)) return {kInvalidHandle, Failure(Status::Failed, "not a hidraw interface", path)};
    // With read access the node itself answers; without it, udev does, so that a controller the
    // user may not open is still found (and its read-write open then says why it fails).
    const int fd = open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const int openError = errno;
    if (fd < 0 && openError != EACCES && openError != EPERM) {
        return {kInvalidHandle, Failure(Status::Failed, "open " + node, ErrorText(openError))};
    }
    std::string error;
    HidNodeFacts facts;
    std::shared_ptr<Handle> handle = Describe(path, fd, facts, error);
    if (!handle) {
        if (fd >= 0) close(fd);
        Note(path + ": " + error);
        return {kInvalidHandle, Failure(Status::Failed, path, error)};
    }
    handle->fd = fd;
    return {Register(std::move(handle)), Done()};
}

Opened HidOpenReadWrite(const std::string& path)
{
    std::string node;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    unsigned collection = 0;
    if (!SplitInterfacePath(path, node, vendorId, productId, collection)) {
        return {kInvalidHandle, Failure(Status::Failed, "not a hidraw interface", path)};
    }
    // A read-write open that fails names the node, for the front end's advice.
    const auto failed = [&node](Status status, const char* operation, const std::string& reason) {
        return Opened{kInvalidHandle, Failure(status, std::string(operation) + " " + node, reason, node)};
    };
    const int fd = open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        const bool denied = error == EACCES || error == EPERM;
        const bool gone = error == ENOENT || error == ENODEV;
        return failed(denied ? Status::Denied : gone ? Status::Gone : Status::Failed, "open for reading and writing",
                      ErrorText(error));
    }
    std::string error;
    HidNodeFacts facts;
    std::shared_ptr<Handle> handle = Describe(path, fd, facts, error);
    if (!handle) {
        close(fd);
        return failed(Status::Failed, "describe", error);
    }
    handle->fd = fd;
    bool heldElsewhere = false;
    handle->lock = LockNode(node, fd, heldElsewhere, error);
    if (!handle->lock) return failed(heldElsewhere ? Status::Held : Status::Failed, "lock", error);
    handle->usb = ReadUsbPlace(node);
    if (!CaptureNode(node, facts, handle->usb, handle->captured, error)) return failed(Status::Failed, "capture", error);
    handle->readWrite = true;
    return {Register(std::move(handle)), Done()};
}

Outcome HidGetAttributes(DeviceHandle id, std::uint16_t& vendorId, std::uint16_t& productId)
{
    std::shared_ptr<Handle> handle = Find(id);
    if (!handle) return Failure(Status::Failed, "the attributes", "no such handle");
    vendorId = handle->vendorId;
    productId = handle->productId;
    return Done();
}

std::string HidNodeOf(DeviceHandle id)
{
    std::shared_ptr<Handle> handle = Find(id);
    return handle ? handle->node : std::string();
}

Outcome HidGetCaps(DeviceHandle id, HidCaps& caps)
{
    std::shared_ptr<Handle> handle = Find(id);
    if (!handle) return Failure(Status::Failed, "the caps", "no such handle");
    caps.Usage = handle->collection.usage;
    caps.UsagePage = handle->collection.usagePage;
    caps.InputReportByteLength = handle->collection.inputReportByteLength;
    caps.OutputReportByteLength = handle->collection.outputReportByteLength;
    return Done();
}

Outcome HidFlushInput(DeviceHandle id)
{
    std::shared_ptr<Handle> handle = ReadWriteHandle(id);
    if (!handle) return Failure(Status::Failed, "flush", kNoReadWriteHandle);
    std::vector<std::uint8_t> discard(kMaxReportLength);
    for (int i = 0; i < kMaxFlushedReports; ++i) {
        const ssize_t got = read(handle->fd, discard.data(), discard.size());
        if (got >= 0) continue;
        const int readError = errno;
        if (readError == EINTR) continue;
        if (readError == EAGAIN) return Done();
        return Failure(readError == ENODEV ? Status::Gone : Status::Failed, "flush", ErrorText(readError));
    }
    return Done();
}

Outcome HidWriteReport(DeviceHandle handle, const std::uint8_t* report, std::size_t length, std::uint32_t timeLimitMs)
{
    return Output(handle, HidrawCall::Write, report, length, timeLimitMs);
}

Outcome HidSetOutputReport(DeviceHandle handle, const std::uint8_t* report, std::size_t length,
                           std::uint32_t timeLimitMs)
{
    return Output(handle, HidrawCall::SetOutputReport, report, length, timeLimitMs);
}

Outcome HidReadReport(DeviceHandle id, std::uint8_t* buffer, std::size_t length, std::uint32_t timeLimitMs)
{
    Outcome refused;
    const std::shared_ptr<Handle> handle = InputHandle(id, buffer, length, false, "read", refused);
    if (!handle) return refused;
    // Without report ids hidraw gives the report without the 0 byte that Windows puts in front.
    const std::size_t skip = handle->numbersInputReports ? 0 : 1;
    std::vector<std::uint8_t> report(std::min(length - skip, kMaxReportLength) + skip);
    const std::uint64_t submitted = CaptureSubmitTime(handle->captured);
    auto fail = [&](Status status, const std::string& why) {
        CaptureInputReport(handle->captured, false, buffer, length, status, false, submitted);
        Note(handle->node + ": read: " + why);
        return Failure(status, "read", why);
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeLimitMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd ready{handle->fd, POLLIN, 0};
        const int polled = poll(&ready, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (polled < 0 && errno == EINTR) continue;
        if (polled < 0 || (polled == 1 && (ready.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0)) {
            return fail(Status::Gone, "the device is gone");
        }
        if (polled == 0) return fail(Status::TimedOut, "no report within " + std::to_string(timeLimitMs) + " ms");
        const ssize_t got = read(handle->fd, report.data() + skip, report.size() - skip);
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (got <= 0) return fail(Status::Failed, got < 0 ? ErrorText(errno) : std::string("an empty report"));
        // Another collection's report (hidraw gives every report of the device to every reader).
        if (skip == 0 && !Declares(handle->collection.inputReportIds, report[0])) continue;
        const std::size_t total = static_cast<std::size_t>(got) + skip;
        std::copy(report.begin(), report.begin() + static_cast<std::ptrdiff_t>(total), buffer);
        std::fill(buffer + total, buffer + length, 0);
        CaptureInputReport(handle->captured, false, buffer, total, Status::Done, false, submitted);
        return Done();
    }
}

Outcome HidGetInputReport(DeviceHandle id, std::uint8_t* buffer, std::size_t length, std::uint32_t timeLimitMs)
{
    Outcome refused;
    const std::shared_ptr<Handle> handle = InputHandle(id, buffer, length, true, "HIDIOCGINPUT", refused);
    if (!handle) return refused;
    const std::uint64_t submitted = CaptureSubmitTime(handle->captured);
    bool unpluggedInFlight = false;
    const Outcome outcome =
        handle->usb.usb ? UsbRequest(handle->usb, UsbClassRequest::GetInputReport, buffer, length, timeLimitMs)
                        : CallHidraw(handle->fd, HidrawCall::GetInputReport, buffer, length, timeLimitMs, unpluggedInFlight);
    CaptureInputReport(handle->captured, true, buffer, length, outcome.status, unpluggedInFlight, submitted);
    if (!outcome) Note(handle->node + ": " + outcome.Text());
    return outcome;
}

void HidClose(DeviceHandle id)
{
    std::shared_ptr<Handle> handle;
    {
        std::lock_guard<std::mutex> guard(tableMutex);
        auto found = handles.find(id);
        if (found == handles.end()) return;
        handle = std::move(found->second);
        handles.erase(found);
    }
    // The descriptor closes with the last reference to the handle (a call in flight holds one);
    // the lock with the last read-write handle of the node.
}

}  // namespace platform
