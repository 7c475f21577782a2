#include "device/usb_topology.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "codec/usb_layouts.h"
#include "device/usb_descriptors.h"
#include "platform/usb.h"
#include "state/download_state.h"

namespace {

using namespace platform;

constexpr int kHostControllerCount = 10;

// A name record's reported length is the whole record; the driver's names are counted strings
// of at most 65535 bytes, so a larger report is not a name. Every name block keeps a few zero
// bytes after the reported length so that the text always ends within the block, whatever the
// driver wrote.
constexpr std::uint32_t kLargestNameRecord = 8 + 0xFFFF;
constexpr std::size_t kNameSlack = 4;

// A host controller's bus has room for 127 devices, so no more hubs than that sit below one
// root hub; more can only come from hub names that lead back up the tree, and would never end.
constexpr int kMostHubsPerController = 127;
int hubsBelowRootHub = 0;

// The identification string: string descriptor 0xFF in language 0x0036, at most 255 bytes.
constexpr std::uint16_t kIdentificationValue = 0x03FF;
constexpr std::uint16_t kIdentificationLanguage = 0x0036;
constexpr std::uint16_t kIdentificationLength = 255;
constexpr std::size_t kIdentificationRequestSize = usb_descriptor_request::kHeaderSize + 255;  // 267
constexpr std::uint16_t kConfigurationValue = 0x0200;  // configuration descriptor, index 0

// The walk's time, on the clock of the requests' time limits: when it began, and whether its
// budget has run out. Outside a walk (a port read on its own) only kUsbRequestLimitMs bounds a
// request.
bool walking = false;
std::uint32_t walkStart = 0;
bool outOfTime = false;
std::string lastFailure;  // what the walk's last open or request that failed met

// The time limit of the next request: kUsbRequestLimitMs, or what is left of the walk's budget
// when that is less; 0 once the budget has run out.
std::uint32_t NextRequestLimit()
{
    if (!walking) return kUsbRequestLimitMs;
    if (!outOfTime) {
        const std::uint32_t elapsed = UsbTickCount() - walkStart;  // unsigned: across the wrap too
        if (elapsed < kUsbWalkBudgetMs) return std::min(kUsbRequestLimitMs, kUsbWalkBudgetMs - elapsed);
        outOfTime = true;
    }
    return 0;
}

bool TimeLeft()
{
    return NextRequestLimit() != 0;
}

// Every request of the walk, bounded in time; none is sent once the budget has run out.
bool WalkRequest(DeviceHandle node, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                 std::uint32_t outSize, std::uint32_t& returned)
{
    returned = 0;
    const std::uint32_t limit = NextRequestLimit();
    if (limit == 0) return false;
    const Outcome answered = UsbRequest(node, code, in, inSize, out, outSize, returned, limit);
    if (!answered) lastFailure = answered.Text();
    return answered.done();
}

// Every open of the walk; none once the budget has run out.
DeviceHandle WalkOpen(const std::string& path)
{
    if (!TimeLeft()) return kInvalidHandle;
    const Opened opened = UsbOpenNode(path);
    if (!opened.outcome) lastFailure = opened.outcome.Text();
    return opened.handle;
}

std::string NodePath(const char* name)
{
    return std::string("\\\\.\\") + name;
}

// A name record that a driver reports in two requests: the first, of the record's fixed size,
// learns the whole length (ActualLength); the second reads the whole record. The root hub's name
// is asked of the host controller with no input; the name of a hub on a port is asked of the
// upper hub with the port (ConnectionIndex) in the record.
struct NameRecord {
    std::uint32_t code;
    bool namesPort;
    std::size_t actualLength;  // offset of ActualLength
    std::size_t name;          // offset of the UTF-16 name
    std::uint32_t size;        // the fixed record of the first request
    std::uint32_t shortest;    // the least ActualLength that carries a name
};

constexpr NameRecord kRootHubName{kIoctlUsbGetRootHubName, false, usb_root_hub_name::kActualLength,
                                  usb_root_hub_name::kName, usb_root_hub_name::kSize,
                                  usb_root_hub_name::kSize};
constexpr NameRecord kConnectionName{kIoctlUsbGetNodeConnectionName, true,
                                     usb_node_connection_name::kActualLength,
                                     usb_node_connection_name::kName, usb_node_connection_name::kSize,
                                     usb_node_connection_name::kSize + 1};

// One request for a name record of size bytes in block, with the port in it when the record
// names one.
bool RequestName(DeviceHandle node, const NameRecord& kind, std::uint32_t port, std::uint8_t* block,
                 std::uint32_t size, std::uint32_t& returned)
{
    if (!kind.namesPort) return WalkRequest(node, kind.code, nullptr, 0, block, size, returned);
    WriteLe32(block + usb_node_connection_name::kConnectionIndex, port);
    return WalkRequest(node, kind.code, block, size, block, size, returned);
}

// The name in the ANSI code page, or null.
char* ReadName(DeviceHandle node, const NameRecord& kind, std::uint32_t port)
{
    std::uint8_t record[usb_node_connection_name::kSize] = {};  // the larger of the fixed records
    static_assert(usb_root_hub_name::kSize <= sizeof record);
    std::uint32_t returned = 0;
    if (!RequestName(node, kind, port, record, kind.size, returned) || returned < kind.name) {
        return nullptr;
    }
    const std::uint32_t actualLength = ReadLe32(record + kind.actualLength);
    if (actualLength < kind.shortest || actualLength > kLargestNameRecord) return nullptr;

    std::uint8_t* block = GlobalBlockAlloc(actualLength + kNameSlack);
    if (block == nullptr) return nullptr;
    char* name = nullptr;
    if (RequestName(node, kind, port, block, actualLength, returned)) {
        name = WideToAnsi(reinterpret_cast<const char16_t*>(block + kind.name));
    }
    GlobalBlockFree(block);
    return name;
}

// Reads a hub's node information and walks its ports. False when the information can't be had.
bool WalkHubNode(DeviceHandle hub, std::uint8_t* nodeInformation)
{
    using namespace usb_node_information;
    std::uint32_t returned = 0;
    if (!WalkRequest(hub, kIoctlUsbGetNodeInformation, nodeInformation, kSize, nodeInformation, kSize,
                    returned) ||
        returned <= kNumberOfPorts) {
        return false;
    }
    WalkHubPorts(hub, nodeInformation[kNumberOfPorts]);
    return true;
}

// The blocks that one port holds until it has been examined.
struct PortBlocks {
    std::uint8_t* connection = nullptr;
    std::uint8_t* configuration = nullptr;
    std::uint8_t* stringReply = nullptr;
    char* text = nullptr;

    void Release()
    {
        GlobalBlockFree(text);
        GlobalBlockFree(stringReply);
        GlobalBlockFree(configuration);
        GlobalBlockFree(connection);
        *this = PortBlocks{};
    }
};

// The older connection request, copied field by field into the newer record.
bool ReadOlderConnectionInformation(DeviceHandle hub, std::uint32_t port, std::uint8_t* connection)
{
    using namespace usb_connection_information;
    std::uint8_t* older = GlobalBlockAlloc(kSize);
    if (older == nullptr) return false;
    WriteLe32(older + kConnectionIndex, port);
    std::uint32_t returned = 0;
    const bool known = WalkRequest(hub, kIoctlUsbGetNodeConnectionInformation, older, kSize, older, kSize,
                                  returned) &&
                       returned >= kFixedSize;
    if (known) {
        std::memcpy(connection + kConnectionIndex, older + kConnectionIndex, 4);
        std::memcpy(connection + kDeviceDescriptor, older + kDeviceDescriptor, kDeviceDescriptorSize);
        connection[kCurrentConfigurationValue] = older[kCurrentConfigurationValue];
        connection[kSpeed] = older[kLowSpeed] != 0 ? kLowSpeedValue : kFullSpeedValue;
        connection[kDeviceIsHub] = older[kDeviceIsHub];
        std::memcpy(connection + kDeviceAddress, older + kDeviceAddress, 2);
        std::memcpy(connection + kNumberOfOpenPipes, older + kNumberOfOpenPipes, 4);
        std::memcpy(connection + kConnectionStatus, older + kConnectionStatus, 4);
        std::memcpy(connection + kPipeList, older + kPipeList, kPipeRoom * kPipeInfoSize);
    }
    GlobalBlockFree(older);
    return known;
}

void SetDescriptorRequest(std::uint8_t* request, std::uint32_t port, std::uint16_t value,
                          std::uint16_t index, std::uint16_t length)
{
    using namespace usb_descriptor_request;
    WriteLe32(request + kConnectionIndex, port);
    WriteLe16(request + kValue, value);
    WriteLe16(request + kIndex, index);
    WriteLe16(request + kLength, length);
}

// The whole configuration descriptor set of the device on a port, as a descriptor request
// block whose data holds totalLength bytes; null when it can't be read consistently.
std::uint8_t* ReadConfigurationSet(DeviceHandle hub, std::uint32_t port, std::uint16_t& totalLength)
{
    using namespace usb_descriptor_request;
    constexpr std::uint32_t kHeadRequestSize = kHeaderSize + usb::ConfigurationField::kSize;  // 21
    std::uint8_t head[kHeadRequestSize] = {};
    SetDescriptorRequest(head, port, kConfigurationValue, 0, usb::ConfigurationField::kSize);
    std::uint32_t returned = 0;
    if (!WalkRequest(hub, kIoctlUsbGetDescriptorFromNodeConnection, head, kHeadRequestSize, head,
                    kHeadRequestSize, returned) ||
        returned != kHeadRequestSize) {
        return nullptr;
    }
    totalLength = ReadLe16(head + kData + usb::ConfigurationField::kTotalLength);
    if (totalLength < usb::ConfigurationField::kSize) return nullptr;

    const std::uint32_t requestSize = kHeaderSize + totalLength;
    std::uint8_t* set = GlobalBlockAlloc(requestSize);
    if (set == nullptr) return nullptr;
    SetDescriptorRequest(set, port, kConfigurationValue, 0, totalLength);
    const bool consistent = WalkRequest(hub, kIoctlUsbGetDescriptorFromNodeConnection, set, requestSize,
                                       set, requestSize, returned) &&
                            returned == requestSize &&
                            ReadLe16(set + kData + usb::ConfigurationField::kTotalLength) == totalLength;
    if (!consistent) {
        GlobalBlockFree(set);
        return nullptr;
    }
    return set;
}

// Asks the device on a port for its identification string and sets the match flag when the
// text carries a match. The request and the converted text are left in blocks.
void CheckIdentificationString(DeviceHandle hub, std::uint32_t port, PortBlocks& blocks)
{
    using namespace usb_descriptor_request;
    blocks.stringReply = GlobalBlockAlloc(kIdentificationRequestSize);
    if (blocks.stringReply == nullptr) return;
    SetDescriptorRequest(blocks.stringReply, port, kIdentificationValue, kIdentificationLanguage,
                         kIdentificationLength);
    std::uint32_t returned = 0;
    if (!WalkRequest(hub, kIoctlUsbGetDescriptorFromNodeConnection, blocks.stringReply,
                    kIdentificationRequestSize, blocks.stringReply, kIdentificationRequestSize,
                    returned)) {
        return;
    }
    const int units = AcceptStringReply(blocks.stringReply, kIdentificationRequestSize, returned);
    if (units < 0) return;

    // At most 126 code units follow the descriptor header of a reply of 267 bytes.
    char16_t text[kIdentificationLength / 2 + 1] = {};
    std::memcpy(text, blocks.stringReply + kData + 2, static_cast<std::size_t>(units) * 2);
    text[units] = 0;
    blocks.text = WideToAnsi(text);
    if (blocks.text != nullptr && IdentificationTextMatches(blocks.text)) {
        downloadState.TopologyMatchFlag = 1;
    }
}

// Examines one port. False when its connection record can't be had, which ends the hub's walk.
bool ExaminePort(DeviceHandle hub, std::uint32_t port)
{
    using namespace usb_connection_information;
    PortBlocks blocks;
    blocks.connection = GlobalBlockAlloc(kSize);
    if (blocks.connection == nullptr) return false;
    if (!ReadPortConnection(hub, port, blocks.connection)) {
        blocks.Release();
        return true;
    }

    const std::uint8_t* connection = blocks.connection;
    if (ReadLe32(connection + kConnectionStatus) == kDeviceConnected) {
        std::uint16_t totalLength = 0;
        blocks.configuration = ReadConfigurationSet(hub, port, totalLength);
        if (blocks.configuration != nullptr &&
            (DeviceDescriptorNamesString(connection + kDeviceDescriptor) ||
             ConfigurationNamesString(blocks.configuration + usb_descriptor_request::kData,
                                      totalLength))) {
            CheckIdentificationString(hub, port, blocks);
        }
    }

    if (connection[kDeviceIsHub] != 0) {
        if (char* hubName = ReadName(hub, kConnectionName, port)) WalkExternalHub(hubName);
    }
    blocks.Release();
    return true;
}

}  // namespace

bool ReadPortConnection(DeviceHandle hub, std::uint32_t port, std::uint8_t* connection)
{
    using namespace usb_connection_information;
    WriteLe32(connection + kConnectionIndex, port);
    std::uint32_t returned = 0;
    return (WalkRequest(hub, kIoctlUsbGetNodeConnectionInformationEx, connection, kSize, connection, kSize,
                       returned) &&
            returned >= kFixedSize) ||
           ReadOlderConnectionInformation(hub, port, connection);
}

char* WideToAnsi(const char16_t* text)
{
    const int size = WideToAnsiCodePage(text, nullptr, 0);
    if (size <= 0) return nullptr;
    char* block = reinterpret_cast<char*>(GlobalBlockAlloc(static_cast<std::size_t>(size)));
    if (block == nullptr) return nullptr;
    if (WideToAnsiCodePage(text, block, size) == 0) {
        GlobalBlockFree(block);
        return nullptr;
    }
    return block;
}

void WalkHubPorts(DeviceHandle hub, std::uint32_t portCount)
{
    for (std::uint32_t port = 1; port <= portCount; ++port) {
        if (!TimeLeft() || !ExaminePort(hub, port)) return;
    }
}

void WalkExternalHub(char* hubName)
{
    std::uint8_t* nodeInformation = GlobalBlockAlloc(usb_node_information::kSize);
    if (nodeInformation != nullptr && hubsBelowRootHub < kMostHubsPerController) {
        const DeviceHandle hub = WalkOpen(NodePath(hubName));
        if (hub != kInvalidHandle) {
            ++hubsBelowRootHub;
            WalkHubNode(hub, nodeInformation);
            UsbCloseNode(hub);
        }
    }
    GlobalBlockFree(nodeInformation);
    GlobalBlockFree(hubName);
}

void UsbTopologyWalk()
{
    walking = true;
    outOfTime = false;
    lastFailure.clear();
    walkStart = UsbTickCount();
    for (int number = 0; number < kHostControllerCount; ++number) {
        if (!TimeLeft()) break;
        hubsBelowRootHub = 0;
        char controllerPath[16];
        std::snprintf(controllerPath, sizeof controllerPath, "\\\\.\\HCD%d", number);
        const DeviceHandle controller = WalkOpen(controllerPath);
        if (controller == kInvalidHandle) continue;

        if (char* rootHubName = ReadName(controller, kRootHubName, 0)) {
            const DeviceHandle rootHub = WalkOpen(NodePath(rootHubName));
            GlobalBlockFree(rootHubName);
            if (rootHub != kInvalidHandle) {
                std::uint8_t* nodeInformation = GlobalBlockAlloc(usb_node_information::kSize);
                if (nodeInformation != nullptr) WalkHubNode(rootHub, nodeInformation);
                GlobalBlockFree(nodeInformation);
                UsbCloseNode(rootHub);
            }
        }
        UsbCloseNode(controller);
    }
    walking = false;
}

std::string UsbWalkLastFailure()
{
    return lastFailure;
}

bool UsbWalkRanOutOfTime()
{
    return outOfTime;
}
