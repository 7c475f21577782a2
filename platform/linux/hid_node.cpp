// hidraw nodes through libudev and sysfs: what each node is, its interface paths, the present
// nodes and the ones that arrive.
#include "platform/linux/hid_node.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <tuple>

#include "platform/linux/error_text.h"
#include "platform/linux/hid_usb.h"
#include "platform/linux/sysfs_facts.h"
#include "platform/system.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

// The kernel keeps report descriptors of at most this size (HID_MAX_DESCRIPTOR_SIZE).
constexpr std::size_t kMaxDescriptorSize = HID_MAX_DESCRIPTOR_SIZE;

// A device's name is kept to this many bytes (the kernel's hid name holds 128).
constexpr std::size_t kMaxNameLength = 256;

// HID_ID of a hid device: bus, vendor and product as "0003:00002563:00001818".
bool ParseHidId(const char* text, std::uint16_t& vendorId, std::uint16_t& productId)
{
    if (text == nullptr) return false;
    unsigned bus = 0;
    unsigned long vendor = 0;
    unsigned long product = 0;
    int consumed = 0;
    if (std::sscanf(text, "%x:%lx:%lx%n", &bus, &vendor, &product, &consumed) != 3) return false;
    if (text[consumed] != '\0' || vendor > 0xFFFF || product > 0xFFFF) return false;
    vendorId = static_cast<std::uint16_t>(vendor);
    productId = static_cast<std::uint16_t>(product);
    return true;
}

bool Facts(const std::uint8_t* descriptor, std::size_t size, HidNodeFacts& facts, std::string& error)
{
    if (!codec::ParseReportDescriptor(descriptor, size, facts.collections, error)) {
        error = "report descriptor: " + error;
        return false;
    }
    facts.reportDescriptor.assign(descriptor, descriptor + size);
    facts.numbersInputReports = false;
    for (const codec::HidTopLevelCollection& collection : facts.collections) {
        if (!collection.inputReportIds.empty()) facts.numbersInputReports = true;
    }
    return true;
}

// The number in "/dev/hidraw12", for ordering; nodes without one go last.
unsigned long NodeNumber(const std::string& node)
{
    const std::size_t digits = node.find_last_not_of("0123456789");
    if (digits == std::string::npos || digits + 1 >= node.size()) return ~0ul;
    return std::strtoul(node.c_str() + digits + 1, nullptr, 10);
}

struct UdevDeviceRelease {
    void operator()(udev_device* device) const { udev_device_unref(device); }
};
using UdevDevice = std::unique_ptr<udev_device, UdevDeviceRelease>;

udev_monitor* monitor = nullptr;

// One USB interface of one plugged-in device: bus, address (which changes when the device is
// plugged in again) and interface number.
using UsbInterfaceKey = std::tuple<unsigned, unsigned, unsigned>;

// The USB interfaces whose hidraw nodes this program has listed or seen arrive. A node that
// arrives for one of them again belongs to the same controller, never unplugged, whose interface
// went from usbhid and came back: this program's download of mode 1 gives it back, and so does
// another program's (a second oskel-update, fwupd). It is no controller plugged in.
std::set<UsbInterfaceKey> seenInterfaces;
std::mutex seenMutex;  // the finders' enumerations and the arrival road's may run on other threads

// The USB interface beneath a hidraw node, from its sysfs path
// (".../3-1/3-1:1.0/0003:2563:0059.0001/hidraw/hidraw0"), which names it even once the node is
// gone; false for a node that is not on USB.
bool UsbInterfaceOf(const std::string& syspath, UsbInterfaceKey& key)
{
    const fs::path interface = fs::path(syspath).parent_path().parent_path().parent_path();
    const fs::path device = interface.parent_path();
    unsigned number = 0;
    unsigned bus = 0;
    unsigned address = 0;
    if (syspath.empty() || !SysfsNumber(interface / "bInterfaceNumber", 16, 0xFF, number) ||
        !SysfsNumber(device / "busnum", 10, 0xFFFF, bus) || !SysfsNumber(device / "devnum", 10, 127, address)) {
        return false;
    }
    key = {bus, address, number};
    return true;
}

// Notes the node's interface as seen; false when it was seen before.
bool SeeFirstTime(const HidNode& node)
{
    UsbInterfaceKey key;
    if (!UsbInterfaceOf(node.instance, key)) return true;
    std::lock_guard<std::mutex> lock(seenMutex);
    return seenInterfaces.insert(key).second;
}

bool deviceChosen = false;
HidDeviceChoice chosenDevice;

bool IsChosen(const HidNode& node)
{
    if (!deviceChosen) return true;
    if (chosenDevice.byIds) return node.vendorId == chosenDevice.vendorId && node.productId == chosenDevice.productId;
    return node.node == chosenDevice.node;
}

}  // namespace

void HidChooseDevice(const HidDeviceChoice& choice)
{
    chosenDevice = choice;
    deviceChosen = true;
}

bool HidIdsChosen(std::uint16_t vendorId, std::uint16_t productId)
{
    if (!deviceChosen) return true;
    return chosenDevice.byIds && chosenDevice.vendorId == vendorId && chosenDevice.productId == productId;
}

bool HidIsHidrawNode(const std::string& path)
{
    struct stat status {};
    if (stat(path.c_str(), &status) != 0 || !S_ISCHR(status.st_mode)) return false;
    // /sys/dev/char/MAJOR:MINOR/subsystem links to the device's class, .../class/hidraw.
    char link[64];
    std::snprintf(link, sizeof link, "/sys/dev/char/%u:%u/subsystem", major(status.st_rdev), minor(status.st_rdev));
    char target[256];
    const ssize_t length = readlink(link, target, sizeof target - 1);
    if (length <= 0) return false;
    target[length] = '\0';
    const char* name = std::strrchr(target, '/');
    return std::strcmp(name != nullptr ? name + 1 : target, "hidraw") == 0;
}

udev* UdevContext()
{
    static udev* context = udev_new();
    return context;
}

bool ReadNodeFactsFromFd(int fd, HidNodeFacts& facts, std::string& error)
{
    hidraw_devinfo info{};
    if (ioctl(fd, HIDIOCGRAWINFO, &info) < 0) {
        error = "HIDIOCGRAWINFO: " + ErrorText(errno);
        return false;
    }
    facts.vendorId = static_cast<std::uint16_t>(info.vendor);
    facts.productId = static_cast<std::uint16_t>(info.product);

    int size = 0;
    if (ioctl(fd, HIDIOCGRDESCSIZE, &size) < 0) {
        error = "HIDIOCGRDESCSIZE: " + ErrorText(errno);
        return false;
    }
    if (size < 0 || static_cast<std::size_t>(size) > kMaxDescriptorSize) {
        error = "HIDIOCGRDESCSIZE: a descriptor of " + std::to_string(size) + " bytes";
        return false;
    }
    auto descriptor = std::make_unique<hidraw_report_descriptor>();
    descriptor->size = static_cast<std::uint32_t>(size);
    if (ioctl(fd, HIDIOCGRDESC, descriptor.get()) < 0) {
        error = "HIDIOCGRDESC: " + ErrorText(errno);
        return false;
    }
    return Facts(descriptor->value, static_cast<std::size_t>(size), facts, error);
}

bool ReadNodeFactsFromUdev(udev_device* device, HidNodeFacts& facts, std::string& error)
{
    udev_device* hid = udev_device_get_parent_with_subsystem_devtype(device, "hid", nullptr);
    if (hid == nullptr) {
        error = "no hid device above the node";
        return false;
    }
    if (!ParseHidId(udev_device_get_property_value(hid, "HID_ID"), facts.vendorId, facts.productId)) {
        error = "no usable HID_ID";
        return false;
    }
    const char* syspath = udev_device_get_syspath(hid);
    const std::string file = std::string(syspath ? syspath : "") + "/report_descriptor";
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = file + ": " + ErrorText(errno);
        return false;
    }
    std::vector<std::uint8_t> descriptor(kMaxDescriptorSize + 1);
    std::size_t size = 0;
    while (size < descriptor.size()) {
        const ssize_t got = read(fd, descriptor.data() + size, descriptor.size() - size);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        size += static_cast<std::size_t>(got);
    }
    close(fd);
    if (size > kMaxDescriptorSize) {
        error = file + ": longer than " + std::to_string(kMaxDescriptorSize) + " bytes";
        return false;
    }
    return Facts(descriptor.data(), size, facts, error);
}

bool ReadNodeFactsFromPath(const std::string& node, HidNodeFacts& facts, std::string& error)
{
    struct stat status {};
    if (stat(node.c_str(), &status) != 0) {
        error = node + ": " + ErrorText(errno);
        return false;
    }
    if (!S_ISCHR(status.st_mode) || UdevContext() == nullptr) {
        error = node + ": not a device node known to udev";
        return false;
    }
    UdevDevice device(udev_device_new_from_devnum(UdevContext(), 'c', status.st_rdev));
    if (!device) {
        error = node + ": not a device node known to udev";
        return false;
    }
    return ReadNodeFactsFromUdev(device.get(), facts, error);
}

std::string InterfacePath(const std::string& node, std::uint16_t vendorId, std::uint16_t productId,
                          unsigned collection)
{
    char suffix[40];
    std::snprintf(suffix, sizeof suffix, "#vid_%04x&pid_%04x&col%02u", vendorId, productId, collection);
    return node + suffix;
}

bool SplitInterfacePath(const std::string& path, std::string& node, std::uint16_t& vendorId,
                        std::uint16_t& productId, unsigned& collection)
{
    const std::size_t hash = path.rfind('#');
    if (hash == std::string::npos || hash == 0) return false;
    unsigned vendor = 0;
    unsigned product = 0;
    unsigned number = 0;
    int consumed = 0;
    const std::string suffix = path.substr(hash + 1);
    if (std::sscanf(suffix.c_str(), "vid_%4x&pid_%4x&col%3u%n", &vendor, &product, &number, &consumed) != 3 ||
        static_cast<std::size_t>(consumed) != suffix.size() || number == 0) {
        return false;
    }
    node = path.substr(0, hash);
    vendorId = static_cast<std::uint16_t>(vendor);
    productId = static_cast<std::uint16_t>(product);
    collection = number;
    return true;
}

bool DescribeNode(udev_device* device, HidNode& node, std::string& error)
{
    const char* devnode = udev_device_get_devnode(device);
    if (devnode == nullptr) {
        error = "no device node";
        return false;
    }
    HidNodeFacts facts;
    if (!ReadNodeFactsFromUdev(device, facts, error)) {
        error = std::string(devnode) + ": " + error;
        return false;
    }
    node.node = devnode;
    const char* syspath = udev_device_get_syspath(device);
    node.instance = syspath ? syspath : "";
    node.vendorId = facts.vendorId;
    node.productId = facts.productId;
    node.interfacePaths.clear();
    for (unsigned i = 1; i <= facts.collections.size(); ++i) {
        node.interfacePaths.push_back(InterfacePath(node.node, facts.vendorId, facts.productId, i));
    }
    node.usbDeviceNode = ReadUsbPlace(node.node).deviceNode;
    udev_device* hid = udev_device_get_parent_with_subsystem_devtype(device, "hid", nullptr);
    const char* name = hid != nullptr ? udev_device_get_property_value(hid, "HID_NAME") : nullptr;
    node.name = name != nullptr ? std::string(name).substr(0, kMaxNameLength) : std::string();
    return true;
}

bool HidEnumerateNodes(std::vector<HidNode>& nodes)
{
    nodes.clear();
    if (UdevContext() == nullptr) return false;
    udev_enumerate* enumerate = udev_enumerate_new(UdevContext());
    if (enumerate == nullptr) return false;
    bool listed = udev_enumerate_add_match_subsystem(enumerate, "hidraw") >= 0 &&
                  udev_enumerate_scan_devices(enumerate) >= 0;
    for (udev_list_entry* entry = listed ? udev_enumerate_get_list_entry(enumerate) : nullptr; entry != nullptr;
         entry = udev_list_entry_get_next(entry)) {
        UdevDevice device(udev_device_new_from_syspath(UdevContext(), udev_list_entry_get_name(entry)));
        if (!device) continue;
        HidNode node;
        std::string error;
        if (DescribeNode(device.get(), node, error)) {
            SeeFirstTime(node);
            if (IsChosen(node)) nodes.push_back(std::move(node));
        } else {
            DebugOutput(("hidraw: " + error).c_str());
        }
    }
    udev_enumerate_unref(enumerate);
    std::stable_sort(nodes.begin(), nodes.end(), [](const HidNode& a, const HidNode& b) {
        return NodeNumber(a.node) < NodeNumber(b.node);
    });
    return listed;
}

bool HidArrivalsSeen(std::string& error)
{
    constexpr char kUdevControl[] = "/run/udev/control";
    if (access(kUdevControl, F_OK) == 0) return true;
    error = std::string("no udev daemon runs (") + kUdevControl + ": " + ErrorText(errno) +
            "), so no controller plugged in would be noticed";
    return false;
}

bool HidArrivalMonitorOpen(std::string& error)
{
    if (monitor != nullptr) return true;
    if (UdevContext() == nullptr) {
        error = "udev cannot be reached";
        return false;
    }
    monitor = udev_monitor_new_from_netlink(UdevContext(), "udev");
    if (monitor == nullptr) {
        error = "udev monitor: " + ErrorText(errno);
        return false;
    }
    int result = udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr);
    if (result >= 0) result = udev_monitor_enable_receiving(monitor);
    if (result < 0) {
        error = "udev monitor: " + ErrorText(-result);
        HidArrivalMonitorClose();
        return false;
    }
    return true;
}

int HidArrivalMonitorFd()
{
    return monitor ? udev_monitor_get_fd(monitor) : -1;
}

std::vector<HidNode> HidArrivalMonitorReceive()
{
    std::vector<HidNode> arrived;
    if (monitor == nullptr) return arrived;
    // The monitor's socket does not block (libudev opens it so): this ends when it is empty.
    while (udev_device* received = udev_monitor_receive_device(monitor)) {
        UdevDevice device(received);
        const char* action = udev_device_get_action(received);
        if (action == nullptr || std::strcmp(action, "add") != 0) continue;
        HidNode node;
        std::string error;
        if (!DescribeNode(received, node, error)) {
            DebugOutput(("hidraw: " + error).c_str());
        } else if (!SeeFirstTime(node)) {
            DebugOutput(("hidraw: " + node.node + " is the node of a controller seen before, given back to its driver").c_str());
        } else if (IsChosen(node)) {
            arrived.push_back(std::move(node));
        }
    }
    return arrived;
}

void HidArrivalMonitorClose()
{
    if (monitor != nullptr) udev_monitor_unref(monitor);
    monitor = nullptr;
}

}  // namespace platform
