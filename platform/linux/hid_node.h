// Inside the Linux HID backend: what is known of a hidraw node, read through its descriptor
// (ioctls) or, without access to the node, through udev and sysfs.
#pragma once

#include <libudev.h>

#include <cstdint>
#include <string>
#include <vector>

#include "codec/hid_report_descriptor.h"
#include "platform/linux/hidraw.h"

namespace platform {

struct HidNodeFacts {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::vector<codec::HidTopLevelCollection> collections;
    bool numbersInputReports = false;  // reads carry the report id in byte 0
    std::vector<std::uint8_t> reportDescriptor;  // as the kernel holds it
};

// The process's udev context (null when udev cannot be had). Used on one thread at a time.
udev* UdevContext();

// The facts of an open node, through HIDIOCGRAWINFO and HIDIOCGRDESC.
bool ReadNodeFactsFromFd(int fd, HidNodeFacts& facts, std::string& error);
// The facts of a node through its udev device (no access to the node needed).
bool ReadNodeFactsFromUdev(udev_device* device, HidNodeFacts& facts, std::string& error);
bool ReadNodeFactsFromPath(const std::string& node, HidNodeFacts& facts, std::string& error);

// The node and its interface paths, from a hidraw udev device; false for a device that has no
// node or whose descriptor cannot be read (error says why).
bool DescribeNode(udev_device* device, HidNode& node, std::string& error);

// "/dev/hidraw3#vid_2563&pid_1818&col02" and its parts (collection from 1).
std::string InterfacePath(const std::string& node, std::uint16_t vendorId, std::uint16_t productId,
                          unsigned collection);
bool SplitInterfacePath(const std::string& path, std::string& node, std::uint16_t& vendorId,
                        std::uint16_t& productId, unsigned& collection);

}  // namespace platform
