// The simulated USB tree: host controllers, root hubs, external hubs nested to any depth,
// ports, and the devices on them with their descriptors and strings.
//
// The tree answers the hub driver's I/O control requests byte for byte as the driver does
// (platform/usb.h describes the records), keeps a log of every request, and counts the
// handles and global-heap blocks that the updater holds. The file format of a tree is
// described in docs/usb-tree-format.md.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/outcome.h"
#include "platform/types.h"

namespace sim {

struct UsbHub;

// How a host controller or hub answers the requests sent to it.
enum class UsbAnswering {
    kAnswers,
    // No request ever completes by itself. The simulated driver ends each one, failed, when the
    // caller's time limit has run out (in simulated time, on the tree's clock); the rig's driver
    // keeps it pending, with a cancel routine, until the caller cancels it.
    kNever,
    // The same, except that the rig's driver does not end a cancelled request either, only the
    // node's close does. In the simulated world it is kNever: the seam there ends every request
    // at its time limit.
    kNeverUncancellable,
};

struct UsbDeviceModel {
    std::array<std::uint8_t, 18> deviceDescriptor{};
    // The configuration descriptor set exactly as the device returns it.
    std::vector<std::uint8_t> configuration;
    // String descriptors by (index, language), exactly as the device returns them. Index 0
    // answers with the language list 0x0409 unless given here.
    std::map<std::pair<std::uint8_t, std::uint16_t>, std::vector<std::uint8_t>> strings;
    std::uint8_t currentConfigurationValue = 1;
    std::uint8_t speed = 1;  // 0 low, 1 full, 2 high
    std::uint16_t address = 1;
    // The newer connection request fails on this port while the older one works.
    bool newerRequestFails = false;
    // The newer connection request succeeds but returns at most this many bytes, and with
    // newerReplyGarbled, bytes of no meaning (0xA5) rather than the record's first ones.
    std::optional<std::uint32_t> newerReplyBytes;
    bool newerReplyGarbled = false;
    // A read of the whole configuration set (wLength above 9) reports this wTotalLength.
    std::optional<std::uint16_t> laterTotalLength;
    // Set for a hub: the hub below this port.
    std::shared_ptr<UsbHub> hub;
};

struct UsbPort {
    std::shared_ptr<UsbDeviceModel> device;  // null: nothing attached
    // The connection status the driver reports; by default 1 with a device, 0 without.
    std::optional<std::uint32_t> status;
    // Neither connection request can be answered for this port.
    bool unreadable = false;
    // A connection name request whose buffer can't hold the whole name record gets at most this
    // many bytes back (a driver that returns only the fields that fit, or fewer).
    std::optional<std::uint32_t> shortNameReplyBytes;
};

struct UsbHub {
    std::string name;            // as the driver reports it, without the "\\.\" prefix
    std::vector<UsbPort> ports;  // port n is ports[n - 1]
    bool openFails = false;
    bool busPowered = false;
    UsbAnswering answering = UsbAnswering::kAnswers;
};

struct UsbController {
    int number = 0;  // opened as "\\.\HCD<number>"
    bool openFails = false;
    std::shared_ptr<UsbHub> rootHub;  // null: the root hub name can't be read
    UsbAnswering answering = UsbAnswering::kAnswers;
};

struct UsbTree {
    std::vector<UsbController> controllers;
};

// Descriptor builders for trees made in code.
std::array<std::uint8_t, 18> DeviceDescriptor(std::uint16_t vendorId, std::uint16_t productId,
                                              std::uint8_t deviceClass, std::uint8_t iManufacturer,
                                              std::uint8_t iProduct, std::uint8_t iSerialNumber);
// A string descriptor of UTF-8 text (bLength 2 + 2 per UTF-16 unit, type 3).
std::vector<std::uint8_t> StringDescriptor(const std::string& utf8);
std::vector<std::uint8_t> InterfaceDescriptor(std::uint8_t number, std::uint8_t interfaceClass,
                                              std::uint8_t iInterface);
std::vector<std::uint8_t> EndpointDescriptor(std::uint8_t address, std::uint8_t attributes,
                                             std::uint16_t maxPacketSize, std::uint8_t interval);
// A HID device's one interface, as the usual configuration holds it: its interface, HID and
// interrupt IN endpoint descriptors (codec/usb_hid_descriptors.h), with a 64-byte report descriptor
// and the endpoint polled every 4 frames.
inline constexpr std::uint16_t kHidReportDescriptorLength = 64;
inline constexpr std::uint8_t kHidIntervalFrames = 4;
std::vector<std::uint8_t> HidInterfaceDescriptors();
// A configuration descriptor (value 1, iConfiguration as given) followed by the descriptors,
// with wTotalLength and bNumInterfaces filled in.
std::vector<std::uint8_t> ConfigurationSet(const std::vector<std::vector<std::uint8_t>>& descriptors,
                                           std::uint8_t iConfiguration = 0);

// A HID device with the usual configuration (HidInterfaceDescriptors) and the given strings in
// language 0x0409 at indices 1 to 3 ("" for none), and its identification string (index 0xFF,
// language 0x0036) when not empty.
std::shared_ptr<UsbDeviceModel> MakeUsbDevice(std::uint16_t vendorId, std::uint16_t productId,
                                              const std::string& manufacturer,
                                              const std::string& product,
                                              const std::string& identification = "");
// A hub device with the hub below it.
std::shared_ptr<UsbDeviceModel> MakeUsbHubDevice(std::shared_ptr<UsbHub> hub);
std::shared_ptr<UsbHub> MakeUsbHub(const std::string& name, std::size_t portCount);

// The tree that the simulated driver answers from. Changing it forgets every open handle
// (without touching the counters).
void SetUsbTree(UsbTree tree);
// The tree of docs/usb-tree-format.md read from a file or a text; false with a message
// ("line N: ...") when it is not valid.
bool ParseUsbTree(const std::string& text, UsbTree& tree, std::string& error);
bool LoadUsbTree(const std::string& path, std::string& error);
// The tree of the simulator when no file is given.
UsbTree DefaultUsbTree();
void UseDefaultUsbTree();
// An empty tree (no host controller can be opened), with every counter and the log cleared.
void ResetUsbTree();

// One request as the driver saw it.
struct UsbRequestRecord {
    std::string path;  // the path the handle was opened with
    std::uint32_t code = 0;
    std::vector<std::uint8_t> input;
    std::uint32_t outputSize = 0;
    bool succeeded = false;
    bool neverAnswered = false;  // the node never answers: the caller's time limit ended it
    std::vector<std::uint8_t> output;  // the bytes returned
};
std::vector<UsbRequestRecord> UsbRequests();
// Every path the updater tried to open, in order.
std::vector<std::string> UsbOpenAttempts();

// What the updater holds and has held.
int UsbOpenHandleCount();
int UsbLiveBlockCount();
int UsbPeakBlockCount();
std::uint32_t UsbBlocksAllocated();
// Releases of something that was not a live block (double or stray releases).
std::uint32_t UsbBadBlockReleases();
// Opens of "\\.\HCD<n>" attempted, and walks ended (the last host controller done).
std::uint32_t UsbControllerOpenAttempts();
std::uint32_t UsbWalksEnded();

// The nth block allocation from now fails (1 = the next one); 0 turns it off.
void SetUsbBlockAllocationFailure(std::uint32_t nth);

// The tree's clock in simulated milliseconds, wrapping at 2^32. It moves only while a node keeps
// a request waiting, by the time the request waited; ResetUsbTree sets it to kUsbClockStart,
// 1000 ms before the wrap, so that a walk that waits longer than that crosses it.
inline constexpr std::uint32_t kUsbClockStart = 0xFFFFFFFFu - 999;
std::uint32_t UsbDriverClock();
// How the node open under handle answers (kAnswers for no such handle).
UsbAnswering UsbDriverAnswering(platform::DeviceHandle handle);

// The driver side of the seam (sim/backend/usb_sim.cpp forwards to these).
platform::Opened UsbDriverOpen(const std::string& path);
platform::Outcome UsbDriverRequest(platform::DeviceHandle handle, std::uint32_t code, const void* in,
                                   std::uint32_t inSize, void* out, std::uint32_t outSize,
                                   std::uint32_t& bytesReturned, std::uint32_t timeLimitMs);
void UsbDriverClose(platform::DeviceHandle handle);
std::uint8_t* UsbBlockAlloc(std::size_t size);
void UsbBlockFree(void* block);

}  // namespace sim
