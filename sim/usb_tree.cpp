#include "sim/usb_tree.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "codec/hex_text.h"
#include "codec/usb_hid_descriptors.h"
#include "codec/usb_layouts.h"
#include "device/usb_descriptors.h"
#include "platform/usb.h"
#include "sim/trace.h"
#include "sim/usb_text.h"
#include "sim/world.h"
#include "state/download_state.h"

namespace sim {

namespace {

using namespace platform;

constexpr int kLastHostController = 9;

struct OpenNode {
    std::string path;
    const UsbController* controller = nullptr;  // set for a host controller
    std::shared_ptr<UsbHub> hub;                // set for a hub
};

struct UsbWorld {
    UsbTree tree;
    std::map<DeviceHandle, OpenNode> handles;
    DeviceHandle nextHandle = 0x5000;
    std::map<void*, std::size_t> blocks;
    int peakBlocks = 0;
    std::uint32_t blocksAllocated = 0;
    std::uint32_t badReleases = 0;
    std::uint32_t allocationsUntilFailure = 0;
    std::uint32_t controllerOpenAttempts = 0;
    std::uint32_t walksEnded = 0;
    std::vector<UsbRequestRecord> requests;
    std::vector<std::string> openAttempts;
    std::uint32_t clock = kUsbClockStart;
};

std::mutex worldMutex;
UsbWorld world;

bool EqualsIgnoringCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::shared_ptr<UsbHub> FindHub(const std::shared_ptr<UsbHub>& hub, const std::string& name, int depth)
{
    if (!hub || depth > 1000) return nullptr;
    if (EqualsIgnoringCase(hub->name, name)) return hub;
    for (const UsbPort& port : hub->ports) {
        if (port.device && port.device->hub) {
            if (auto found = FindHub(port.device->hub, name, depth + 1)) return found;
        }
    }
    return nullptr;
}

// The hub's name record (USB_ROOT_HUB_NAME or USB_NODE_CONNECTION_NAME): the header, the
// UTF-16 name and its NUL.
std::vector<std::uint8_t> NameRecord(std::size_t headerSize, const std::string& name)
{
    const std::u16string wide = Utf8ToUtf16(name);
    std::vector<std::uint8_t> record(headerSize + 2 * (wide.size() + 1), 0);
    for (std::size_t i = 0; i < wide.size(); ++i) WriteLe16(&record[headerSize + 2 * i], wide[i]);
    return record;
}

// Copies as much of a name record as fits into the reply; ActualLength is always the full size.
bool AnswerName(std::vector<std::uint8_t>& system, std::uint32_t outSize, std::size_t recordSize,
                std::size_t lengthOffset, std::vector<std::uint8_t> record, std::uint32_t& returned)
{
    if (outSize < recordSize) return false;
    WriteLe32(&record[lengthOffset], static_cast<std::uint32_t>(record.size()));
    returned = static_cast<std::uint32_t>(std::min<std::size_t>(outSize, record.size()));
    std::memcpy(system.data() + lengthOffset, record.data() + lengthOffset, returned - lengthOffset);
    return true;
}

bool AnswerNodeInformation(const UsbHub& hub, std::vector<std::uint8_t>& system, std::uint32_t outSize,
                           std::uint32_t& returned)
{
    using namespace usb_node_information;
    if (outSize < kSize) return false;
    std::fill(system.begin(), system.begin() + kSize, 0);
    const std::size_t ports = hub.ports.size();
    WriteLe32(&system[kNodeType], kUsbHub);
    system[kDescriptorLength] = static_cast<std::uint8_t>(7 + 2 * ((ports + 1 + 7) / 8));
    system[kDescriptorType] = 0x29;
    system[kNumberOfPorts] = static_cast<std::uint8_t>(ports);
    WriteLe16(&system[kHubCharacteristics], 0x0009);  // individual power switching and overcurrent
    system[kPowerOnToPowerGood] = 50;
    system[kHubControlCurrent] = 100;
    // DeviceRemovable all zero (every port removable), then PortPwrCtrlMask all ones.
    const std::size_t maskBytes = (ports + 1 + 7) / 8;
    for (std::size_t i = 0; i < maskBytes && maskBytes + i < 64; ++i) system[kRemoveAndPowerMask + maskBytes + i] = 0xFF;
    system[kHubIsBusPowered] = hub.busPowered ? 1 : 0;
    returned = kSize;
    return true;
}

const UsbPort* PortOf(const UsbHub& hub, std::uint32_t number)
{
    if (number == 0 || number > hub.ports.size()) return nullptr;
    return &hub.ports[number - 1];
}

std::uint32_t StatusOf(const UsbPort& port)
{
    if (port.status) return *port.status;
    return port.device ? usb_connection_information::kDeviceConnected : 0;
}

// The endpoints of the device's configuration: the pipes the driver opened for it.
std::vector<std::vector<std::uint8_t>> OpenPipes(const UsbDeviceModel& device)
{
    std::vector<std::vector<std::uint8_t>> pipes;
    if (device.currentConfigurationValue == 0) return pipes;
    const std::vector<std::uint8_t>& set = device.configuration;
    std::size_t position = 0;
    while (set.size() - position >= 2) {
        const std::size_t length = set[position];
        if (length < 2 || length > set.size() - position) break;
        if (set[position + 1] == usb::kDescriptorEndpoint && length >= 7) {
            pipes.emplace_back(set.begin() + position, set.begin() + position + 7);
        }
        position += length;
    }
    return pipes;
}

bool AnswerConnectionInformation(const UsbHub& hub, bool newer, std::vector<std::uint8_t>& system,
                                 std::uint32_t inSize, std::uint32_t outSize, std::uint32_t& returned)
{
    using namespace usb_connection_information;
    if (inSize < 4 || outSize < kFixedSize) return false;
    const std::uint32_t number = ReadLe32(&system[kConnectionIndex]);
    const UsbPort* port = PortOf(hub, number);
    if (port == nullptr || port->unreadable) return false;
    const UsbDeviceModel* device = port->device.get();
    if (newer && device != nullptr && device->newerRequestFails) return false;

    std::fill(system.begin(), system.begin() + outSize, 0);
    WriteLe32(&system[kConnectionIndex], number);
    std::uint32_t pipesWritten = 0;
    if (device != nullptr) {
        std::memcpy(&system[kDeviceDescriptor], device->deviceDescriptor.data(), kDeviceDescriptorSize);
        system[kCurrentConfigurationValue] = device->currentConfigurationValue;
        system[kSpeed] = newer ? device->speed : (device->speed == kLowSpeedValue ? 1 : 0);
        system[kDeviceIsHub] = device->hub ? 1 : 0;
        WriteLe16(&system[kDeviceAddress], device->address);
        const auto pipes = OpenPipes(*device);
        WriteLe32(&system[kNumberOfOpenPipes], static_cast<std::uint32_t>(pipes.size()));
        const std::size_t room = (outSize - kFixedSize) / kPipeInfoSize;
        for (const auto& pipe : pipes) {
            if (pipesWritten == room) break;
            std::memcpy(&system[kPipeList + pipesWritten * kPipeInfoSize], pipe.data(), 7);
            ++pipesWritten;
        }
    }
    WriteLe32(&system[kConnectionStatus], StatusOf(*port));
    returned = static_cast<std::uint32_t>(kFixedSize + pipesWritten * kPipeInfoSize);
    if (newer && device != nullptr && device->newerReplyBytes) {
        returned = std::min(returned, *device->newerReplyBytes);
        if (device->newerReplyGarbled) std::fill(system.begin(), system.begin() + returned, 0xA5);
    }
    return true;
}

// The device's answer to GET_DESCRIPTOR; false when it stalls.
bool DeviceDescriptorReply(const UsbDeviceModel& device, std::uint16_t value, std::uint16_t index,
                           std::uint16_t length, std::vector<std::uint8_t>& reply)
{
    const std::uint8_t type = static_cast<std::uint8_t>(value >> 8);
    const std::uint8_t number = static_cast<std::uint8_t>(value);
    if (type == usb::kDescriptorDevice && number == 0) {
        reply.assign(device.deviceDescriptor.begin(), device.deviceDescriptor.end());
    } else if (type == usb::kDescriptorConfiguration && number == 0) {
        if (device.configuration.empty()) return false;
        reply = device.configuration;
        if (length > usb::ConfigurationField::kSize && device.laterTotalLength && reply.size() >= 4) {
            WriteLe16(&reply[usb::ConfigurationField::kTotalLength], *device.laterTotalLength);
        }
    } else if (type == usb::kDescriptorString) {
        const auto found = device.strings.find({number, index});
        if (found != device.strings.end()) {
            reply = found->second;
        } else if (number == 0) {
            reply = {4, usb::kDescriptorString, 0x09, 0x04};
        } else {
            return false;
        }
    } else {
        return false;
    }
    if (reply.size() > length) reply.resize(length);
    return true;
}

bool AnswerDescriptor(const UsbHub& hub, std::vector<std::uint8_t>& system, std::uint32_t inSize,
                      std::uint32_t outSize, std::uint32_t& returned)
{
    using namespace usb_descriptor_request;
    if (inSize < kHeaderSize || outSize < kHeaderSize) return false;
    const UsbPort* port = PortOf(hub, ReadLe32(&system[kConnectionIndex]));
    if (port == nullptr || !port->device ||
        StatusOf(*port) != usb_connection_information::kDeviceConnected) {
        return false;
    }
    std::vector<std::uint8_t> reply;
    if (!DeviceDescriptorReply(*port->device, ReadLe16(&system[kValue]), ReadLe16(&system[kIndex]),
                               ReadLe16(&system[kLength]), reply)) {
        return false;
    }
    const std::size_t room = outSize - kHeaderSize;
    if (reply.size() > room) reply.resize(room);
    if (!reply.empty()) std::memcpy(&system[kData], reply.data(), reply.size());
    returned = static_cast<std::uint32_t>(kHeaderSize + reply.size());
    return true;
}

bool AnswerConnectionName(const UsbHub& hub, std::vector<std::uint8_t>& system, std::uint32_t inSize,
                          std::uint32_t outSize, std::uint32_t& returned)
{
    using namespace usb_node_connection_name;
    if (inSize < 4) return false;
    const UsbPort* port = PortOf(hub, ReadLe32(&system[kConnectionIndex]));
    if (port == nullptr) return false;
    const std::string name = (port->device && port->device->hub) ? port->device->hub->name : "";
    std::vector<std::uint8_t> record = NameRecord(kName, name);
    const bool cut = port->shortNameReplyBytes && outSize < record.size();
    if (!AnswerName(system, outSize, kSize, kActualLength, std::move(record), returned)) return false;
    if (cut) returned = std::min(returned, *port->shortNameReplyBytes);
    return true;
}

bool Answer(const OpenNode& node, std::uint32_t code, std::vector<std::uint8_t>& system,
            std::uint32_t inSize, std::uint32_t outSize, std::uint32_t& returned)
{
    if (node.controller != nullptr) {
        if (code != kIoctlUsbGetRootHubName || !node.controller->rootHub) return false;
        return AnswerName(system, outSize, usb_root_hub_name::kSize, usb_root_hub_name::kActualLength,
                          NameRecord(usb_root_hub_name::kName, node.controller->rootHub->name), returned);
    }
    const UsbHub& hub = *node.hub;
    switch (code) {
    case kIoctlUsbGetNodeInformation: return AnswerNodeInformation(hub, system, outSize, returned);
    case kIoctlUsbGetNodeConnectionInformationEx:
        return AnswerConnectionInformation(hub, true, system, inSize, outSize, returned);
    case kIoctlUsbGetNodeConnectionInformation:
        return AnswerConnectionInformation(hub, false, system, inSize, outSize, returned);
    case kIoctlUsbGetDescriptorFromNodeConnection:
        return AnswerDescriptor(hub, system, inSize, outSize, returned);
    case kIoctlUsbGetNodeConnectionName: return AnswerConnectionName(hub, system, inSize, outSize, returned);
    default: return false;
    }
}

UsbAnswering AnsweringOf(const OpenNode& node)
{
    if (node.controller != nullptr) return node.controller->answering;
    return node.hub ? node.hub->answering : UsbAnswering::kAnswers;
}

std::string CodeText(std::uint32_t code)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%06x", static_cast<unsigned>(code));
    return text;
}

std::string RequestText(std::uint32_t code)
{
    return "request " + CodeText(code);
}

void TraceRequest(const UsbRequestRecord& record)
{
    if (!TraceWanted()) return;
    TraceLine(std::string("usb-request ") + (record.succeeded ? "ok " : "fail ") + CodeText(record.code) +
              " " + codec::Hex(record.input.data(), record.input.size()) + " " +
              codec::Hex(record.output.data(), record.output.size()));
}

bool IsLastHostControllerPath(const std::string& path)
{
    return EqualsIgnoringCase(path, "\\\\.\\HCD" + std::to_string(kLastHostController));
}

// The walk visits the host controllers in order; it has ended once the last one was tried and,
// when it opened, closed again.
void NoteWalkEnded()
{
    ++world.walksEnded;
    TraceLine("topology match=" + std::to_string(downloadState.TopologyMatchFlag.load()));
}

}  // namespace

void SetUsbTree(UsbTree tree)
{
    std::lock_guard<std::mutex> lock(worldMutex);
    world.tree = std::move(tree);
    world.handles.clear();
}

void ResetUsbTree()
{
    std::lock_guard<std::mutex> lock(worldMutex);
    for (auto& [block, size] : world.blocks) std::free(block);
    world = UsbWorld{};
}

void UseDefaultUsbTree()
{
    SetUsbTree(DefaultUsbTree());
}

std::vector<UsbRequestRecord> UsbRequests()
{
    std::lock_guard<std::mutex> lock(worldMutex);
    return world.requests;
}

std::vector<std::string> UsbOpenAttempts()
{
    std::lock_guard<std::mutex> lock(worldMutex);
    return world.openAttempts;
}

int UsbOpenHandleCount()
{
    std::lock_guard<std::mutex> lock(worldMutex);
    return static_cast<int>(world.handles.size());
}

int UsbLiveBlockCount()
{
    std::lock_guard<std::mutex> lock(worldMutex);
    return static_cast<int>(world.blocks.size());
}

int UsbPeakBlockCount()
{
    std::lock_guard<std::mutex> lock(worldMutex);
    return world.peakBlocks;
}

std::uint32_t UsbBlocksAllocated()
{
    std::lock_guard<std::mutex> lock(worldMutex);
    return world.blocksAllocated;
}

std::uint32_t UsbBadBlockReleases()
{
    std::lock_guard<std::mutex> lock(worldMutex);
    return world.badReleases;
}

std::uint32_t UsbControllerOpenAttempts()
{
    std::lock_guard<std::mutex> lock(worldMutex);
    return world.controllerOpenAttempts;
}

std::uint32_t UsbWalksEnded()
{
    std::lock_guard<std::mutex> lock(worldMutex);
    return world.walksEnded;
}

void SetUsbBlockAllocationFailure(std::uint32_t nth)
{
    std::lock_guard<std::mutex> lock(worldMutex);
    world.allocationsUntilFailure = nth;
}

namespace {

void TraceNodeOpen(const std::string& path, bool opened)
{
    if (TraceWanted()) TraceLine(std::string("usb-open ") + (opened ? "ok " : "fail ") + path);
}

}  // namespace

Opened UsbDriverOpen(const std::string& path)
{
    std::lock_guard<std::mutex> lock(worldMutex);
    world.openAttempts.push_back(path);
    OpenNode node;
    node.path = path;
    const std::string prefix = "\\\\.\\";
    const bool isController = path.size() > prefix.size() + 3 &&
                              EqualsIgnoringCase(path.substr(0, prefix.size() + 3), prefix + "HCD");
    if (isController) {
        ++world.controllerOpenAttempts;
        const std::string digits = path.substr(prefix.size() + 3);
        for (const UsbController& controller : world.tree.controllers) {
            if (std::to_string(controller.number) == digits && !controller.openFails) {
                node.controller = &controller;
                break;
            }
        }
        if (node.controller == nullptr) {
            TraceNodeOpen(path, false);
            if (IsLastHostControllerPath(path)) NoteWalkEnded();
            return {kInvalidHandle, Failure(Status::Gone, "open " + path, "no such host controller, or its open fails", path)};
        }
    } else {
        const bool named = path.compare(0, prefix.size(), prefix) == 0;
        const std::string name = named ? path.substr(prefix.size()) : std::string();
        for (const UsbController& controller : world.tree.controllers) {
            if (!named) break;
            if ((node.hub = FindHub(controller.rootHub, name, 0))) break;
        }
        if (!node.hub || node.hub->openFails) {
            TraceNodeOpen(path, false);
            return {kInvalidHandle, Failure(Status::Gone, "open " + path, "no such hub, or its open fails", path)};
        }
    }
    TraceNodeOpen(path, true);
    const DeviceHandle handle = world.nextHandle++;
    world.handles[handle] = node;
    return {handle, Done()};
}

Outcome UsbDriverRequest(DeviceHandle handle, std::uint32_t code, const void* in, std::uint32_t inSize,
                      void* out, std::uint32_t outSize, std::uint32_t& bytesReturned, std::uint32_t timeLimitMs)
{
    std::unique_lock<std::mutex> lock(worldMutex);
    bytesReturned = 0;
    UsbRequestRecord record;
    record.code = code;
    record.outputSize = outSize;
    if (in != nullptr) {
        const auto* bytes = static_cast<const std::uint8_t*>(in);
        record.input.assign(bytes, bytes + inSize);
    }
    const auto found = world.handles.find(handle);
    if (found == world.handles.end()) return Failure(Status::Failed, RequestText(code), "no such handle");
    record.path = found->second.path;

    if (AnsweringOf(found->second) != UsbAnswering::kAnswers) {
        // The request waits for its whole time limit, on the tree's clock too, and fails.
        record.neverAnswered = true;
        TraceRequest(record);
        world.requests.push_back(std::move(record));
        lock.unlock();
        WaitSimulated(timeLimitMs);
        lock.lock();
        world.clock += timeLimitMs;
        return Failure(Status::TimedOut, RequestText(code), "no answer within " + std::to_string(timeLimitMs) + " ms");
    }

    // A buffered request: the driver works on one system buffer that starts as a copy of the
    // input, and the caller gets back the first bytesReturned bytes of it.
    std::vector<std::uint8_t> system(std::max(inSize, outSize), 0);
    if (!record.input.empty()) std::memcpy(system.data(), record.input.data(), record.input.size());
    std::uint32_t returned = 0;
    const bool succeeded = (in != nullptr || inSize == 0) && (out != nullptr || outSize == 0) &&
                           Answer(found->second, code, system, inSize, outSize, returned);
    if (succeeded) {
        returned = std::min(returned, outSize);
        if (returned > 0) std::memcpy(out, system.data(), returned);
        bytesReturned = returned;
        record.output.assign(system.begin(), system.begin() + returned);
    }
    const std::string path = record.path;
    record.succeeded = succeeded;
    TraceRequest(record);
    world.requests.push_back(std::move(record));
    return succeeded ? Done() : Failure(Status::Refused, RequestText(code) + " to " + path, "refused");
}

std::uint32_t UsbDriverClock()
{
    std::lock_guard<std::mutex> lock(worldMutex);
    return world.clock;
}

UsbAnswering UsbDriverAnswering(DeviceHandle handle)
{
    std::lock_guard<std::mutex> lock(worldMutex);
    const auto found = world.handles.find(handle);
    return found == world.handles.end() ? UsbAnswering::kAnswers : AnsweringOf(found->second);
}

void UsbDriverClose(DeviceHandle handle)
{
    std::lock_guard<std::mutex> lock(worldMutex);
    const auto found = world.handles.find(handle);
    if (found == world.handles.end()) return;
    const bool lastController = found->second.controller != nullptr && IsLastHostControllerPath(found->second.path);
    world.handles.erase(found);
    if (lastController) NoteWalkEnded();
}

std::uint8_t* UsbBlockAlloc(std::size_t size)
{
    std::lock_guard<std::mutex> lock(worldMutex);
    if (world.allocationsUntilFailure != 0 && --world.allocationsUntilFailure == 0) return nullptr;
    // The global heap refuses what no real request needs; the host allocator would not.
    if (size > (16u << 20)) return nullptr;
    void* block = std::calloc(size == 0 ? 1 : size, 1);
    if (block == nullptr) return nullptr;
    world.blocks[block] = size;
    ++world.blocksAllocated;
    world.peakBlocks = std::max(world.peakBlocks, static_cast<int>(world.blocks.size()));
    return static_cast<std::uint8_t*>(block);
}

void UsbBlockFree(void* block)
{
    if (block == nullptr) return;
    std::lock_guard<std::mutex> lock(worldMutex);
    const auto found = world.blocks.find(block);
    if (found == world.blocks.end()) {
        ++world.badReleases;
        return;
    }
    world.blocks.erase(found);
    std::free(block);
}

// Builders.

std::array<std::uint8_t, 18> DeviceDescriptor(std::uint16_t vendorId, std::uint16_t productId,
                                              std::uint8_t deviceClass, std::uint8_t iManufacturer,
                                              std::uint8_t iProduct, std::uint8_t iSerialNumber)
{
    using F = usb::DeviceDescriptorField;
    std::array<std::uint8_t, 18> d{};
    d[usb::DescriptorField::kLength] = F::kSize;
    d[usb::DescriptorField::kType] = usb::kDescriptorDevice;
    WriteLe16(&d[F::kUsbRelease], 0x0200);
    d[F::kClass] = deviceClass;
    d[F::kMaxPacket0] = 64;
    WriteLe16(&d[F::kVendorId], vendorId);
    WriteLe16(&d[F::kProductId], productId);
    WriteLe16(&d[F::kRelease], 0x0100);
    d[F::kManufacturer] = iManufacturer;
    d[F::kProduct] = iProduct;
    d[F::kSerialNumber] = iSerialNumber;
    d[F::kConfigurations] = 1;
    return d;
}

std::vector<std::uint8_t> StringDescriptor(const std::string& utf8)
{
    const std::u16string wide = Utf8ToUtf16(utf8);
    std::vector<std::uint8_t> d(usb::kStringHeader + 2 * wide.size());
    d[usb::DescriptorField::kLength] = static_cast<std::uint8_t>(d.size());
    d[usb::DescriptorField::kType] = usb::kDescriptorString;
    for (std::size_t i = 0; i < wide.size(); ++i) WriteLe16(&d[usb::kStringHeader + 2 * i], wide[i]);
    return d;
}

std::vector<std::uint8_t> InterfaceDescriptor(std::uint8_t number, std::uint8_t interfaceClass,
                                              std::uint8_t iInterface)
{
    using F = usb::InterfaceField;
    std::vector<std::uint8_t> d(F::kSize, 0);
    d[usb::DescriptorField::kLength] = F::kSize;
    d[usb::DescriptorField::kType] = usb::kDescriptorInterface;
    d[F::kNumber] = number;
    d[F::kEndpoints] = 1;
    d[F::kClass] = interfaceClass;
    d[F::kString] = iInterface;
    return d;
}

std::vector<std::uint8_t> EndpointDescriptor(std::uint8_t address, std::uint8_t attributes,
                                             std::uint16_t maxPacketSize, std::uint8_t interval)
{
    using F = usb::EndpointField;
    std::vector<std::uint8_t> d(F::kSize, 0);
    d[usb::DescriptorField::kLength] = F::kSize;
    d[usb::DescriptorField::kType] = usb::kDescriptorEndpoint;
    d[F::kAddress] = address;
    d[F::kAttributes] = attributes;
    WriteLe16(&d[F::kMaxPacket], maxPacketSize);
    d[F::kInterval] = interval;
    return d;
}

std::vector<std::uint8_t> HidInterfaceDescriptors()
{
    usb::UsbHidInterface hid;
    hid.reportDescriptorLength = kHidReportDescriptorLength;
    hid.intervalFrames = kHidIntervalFrames;
    return usb::InterfaceDescriptors(hid, 0);
}

std::vector<std::uint8_t> ConfigurationSet(const std::vector<std::vector<std::uint8_t>>& descriptors,
                                           std::uint8_t iConfiguration)
{
    using F = usb::ConfigurationField;
    std::vector<std::uint8_t> set = {F::kSize, usb::kDescriptorConfiguration, 0, 0, 0, 1, iConfiguration, 0x80, 50};
    std::uint8_t interfaces = 0;
    for (const auto& d : descriptors) {
        if (d.size() > usb::InterfaceField::kAlternate && d[usb::DescriptorField::kType] == usb::kDescriptorInterface &&
            d[usb::InterfaceField::kAlternate] == 0) {
            ++interfaces;
        }
        set.insert(set.end(), d.begin(), d.end());
    }
    WriteLe16(&set[F::kTotalLength], static_cast<std::uint16_t>(set.size()));
    set[F::kInterfaces] = interfaces;
    return set;
}

std::shared_ptr<UsbDeviceModel> MakeUsbDevice(std::uint16_t vendorId, std::uint16_t productId,
                                              const std::string& manufacturer, const std::string& product,
                                              const std::string& identification)
{
    auto device = std::make_shared<UsbDeviceModel>();
    device->deviceDescriptor = DeviceDescriptor(vendorId, productId, 0, manufacturer.empty() ? 0 : 1,
                                                product.empty() ? 0 : 2, 0);
    device->configuration = ConfigurationSet({HidInterfaceDescriptors()});
    if (!manufacturer.empty()) device->strings[{1, usb::kLanguageEnglishUs}] = StringDescriptor(manufacturer);
    if (!product.empty()) device->strings[{2, usb::kLanguageEnglishUs}] = StringDescriptor(product);
    if (!identification.empty()) device->strings[{0xFF, 0x0036}] = StringDescriptor(identification);
    return device;
}

std::shared_ptr<UsbHub> MakeUsbHub(const std::string& name, std::size_t portCount)
{
    auto hub = std::make_shared<UsbHub>();
    hub->name = name;
    hub->ports.resize(portCount);
    return hub;
}

std::shared_ptr<UsbDeviceModel> MakeUsbHubDevice(std::shared_ptr<UsbHub> hub)
{
    auto device = std::make_shared<UsbDeviceModel>();
    device->deviceDescriptor = DeviceDescriptor(0x05E3, 0x0608, 9, 0, 1, 0);
    device->configuration = ConfigurationSet({InterfaceDescriptor(0, 9, 0), EndpointDescriptor(0x81, 3, 1, 12)});
    device->strings[{1, 0x0409}] = StringDescriptor("USB2.0 Hub");
    device->speed = 2;
    device->hub = std::move(hub);
    return device;
}

}  // namespace sim
