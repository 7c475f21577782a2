// What each update mode is: the device that presents itself in it, how the finder knows the
// collection to open, the image it is sent and the transfer that sends it. These facts are written
// here and nowhere else; the finders, the arrival watcher, the image store, the worker, the device
// models and the capture check read them.
#pragma once

#include <cstddef>
#include <cstdint>

// Which top-level collection of the device the finder opens.
enum class CollectionRule {
    Any,     // the first the system lets it open
    Vendor,  // the vendor-defined one: usage page 0xFF00, usage 1
};

// The transfer that sends a mode's image.
enum class Transfer {
    Protocol1,  // scrambled 64-byte set-output reports after an identify exchange
    Protocol2,  // a start report, then a stream of 64-byte data reports
    Protocol3,  // 65-byte begin, block and end reports, each acknowledged
};

struct DownloadModeFacts {
    std::int32_t mode;  // the DownloadMode: 1, 2 or 3
    std::uint16_t vendorId;
    std::uint16_t productId;
    CollectionRule collection;
    bool startRoad;                // "Start" finds and downloads it (the arrival road takes every mode)
    std::int32_t minimumArrivals;  // the arrival road starts it only from this arrival count on
    int imageResource;             // the image's resource id (type "KT_0575")
    std::size_t imageBufferSize;   // the buffer the image is loaded into
    std::uint8_t imageFill;        // what the buffer holds after the image
    std::size_t smallestImage;     // a shorter image is none of this mode's
    Transfer transfer;
};

// Protocol 1 programs nothing below its application region at 0x0A00 (the boot loader's): an
// image that does not reach into the region would only erase it.
inline constexpr DownloadModeFacts kDownloadModes[] = {
    {1, 0x2563, 0x0059, CollectionRule::Vendor, false, 2, 106, 32769, 0xFF, 0x0A00 + 1, Transfer::Protocol1},
    {2, 0x2563, 0x1818, CollectionRule::Vendor, true, 0, 107, 32769, 0xFF, 1, Transfer::Protocol2},
    {3, 0x0461, 0x4D81, CollectionRule::Any, true, 0, 108, 215040, 0x00, 1, Transfer::Protocol3},
};

// The facts of mode 1, 2 or 3 (any other value has none: null).
constexpr const DownloadModeFacts* FactsOfMode(std::int32_t mode)
{
    for (const DownloadModeFacts& facts : kDownloadModes) {
        if (facts.mode == mode) return &facts;
    }
    return nullptr;
}

// The mode in which vendorId:productId is a device in an update mode, or null.
constexpr const DownloadModeFacts* ModeOfDevice(std::uint16_t vendorId, std::uint16_t productId)
{
    for (const DownloadModeFacts& facts : kDownloadModes) {
        if (facts.vendorId == vendorId && facts.productId == productId) return &facts;
    }
    return nullptr;
}

// The facts of a mode that exists, for constant tables.
constexpr const DownloadModeFacts& ModeFacts(std::int32_t mode) { return *FactsOfMode(mode); }
