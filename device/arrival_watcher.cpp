#include "device/arrival_watcher.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "state/download_modes.h"
#include "state/download_state.h"
#include "device/device_link.h"
#include "image/firmware_buffer.h"
#include "platform/system.h"

namespace {

// How the device of a mode shows in a lowercased interface path: "vid_" and "&pid_" with the ids
// as four lowercase hexadecimal digits.
std::string PathPatternOf(const DownloadModeFacts& facts)
{
    char text[24];
    std::snprintf(text, sizeof text, "vid_%04x&pid_%04x", static_cast<unsigned>(facts.vendorId),
                  static_cast<unsigned>(facts.productId));
    return text;
}

bool FindDeviceOfMode(const DownloadModeFacts& facts, const std::string& arrivedPath)
{
    deviceLink->arrivedInterface = arrivedPath;
    switch (facts.mode) {
    case 1: return deviceLink->FindProtocol1Device();
    case 2: return deviceLink->FindProtocol2Device();
    case 3: return deviceLink->FindProtocol3Device();
    default: return false;
    }
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// An ANSI name: lowercased in place, up to its NUL or the end of the room.
std::string LowercaseNarrowName(char* name, std::size_t room)
{
    std::size_t length = 0;
    while (length < room && name[length] != '\0') {
        name[length] = LowerAscii(name[length]);
        ++length;
    }
    return std::string(name, length);
}

// A UTF-16 name: each unit from 'A' to 'Z' lowercased in place, up to its NUL or the last whole
// unit in the room. The narrow form for matching keeps ASCII and shows any other unit as '?'.
std::string LowercaseWideName(char* name, std::size_t room)
{
    std::string narrow;
    for (std::size_t at = 0; at + 2 <= room; at += 2) {
        std::uint16_t unit = 0;
        std::memcpy(&unit, name + at, sizeof unit);
        if (unit == 0) break;
        if (unit >= 'A' && unit <= 'Z') {
            unit = static_cast<std::uint16_t>(unit - 'A' + 'a');
            std::memcpy(name + at, &unit, sizeof unit);
        }
        narrow.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    }
    return narrow;
}

// Lowercases the record's name in place, within the size the record declares, and returns it in
// its narrow form. The system may deliver the name in the wide layout (UTF-16) even to a window
// registered for ANSI records: a device path starts with a backslash, so a second byte of 0 after
// a first that is not tells the wide layout.
std::string LowercaseName(void* record)
{
    std::uint32_t declaredSize = 0;
    std::memcpy(&declaredSize, static_cast<const char*>(record) + kBroadcastSizeOffset, sizeof declaredSize);
    if (declaredSize <= kBroadcastNameOffset) return {};
    char* name = static_cast<char*>(record) + kBroadcastNameOffset;
    const std::size_t room = declaredSize - kBroadcastNameOffset;
    const bool wide = room >= 2 && name[0] != '\0' && name[1] == '\0';
    return wide ? LowercaseWideName(name, room) : LowercaseNarrowName(name, room);
}

// Opens the device of the mode and loads its image. The download state is set for the start
// (mode, busy, the count back to 0) only when the caller is to start the worker.
ArrivalDecision PrepareArrivalDownload(const DownloadModeFacts& facts, const std::string& arrivedPath)
{
    if (!FindDeviceOfMode(facts, arrivedPath)) return {};
    const bool loaded = LoadFirmwareImage(facts.mode) != 0;
    if (deviceLink->transferHandle == platform::kInvalidHandle) return {};
    if (!loaded) {
        deviceLink->ReleaseClaim();
        return {ArrivalAction::ReportFailedDownload};
    }
    downloadState.mode = facts.mode;
    downloadState.busy = 1;
    downloadState.arrivalCount = 0;
    return {ArrivalAction::StartDownload};
}

}  // namespace

ArrivalDecision HandleInterfaceArrival(const std::string& interfacePath)
{
    const std::int32_t count = ++downloadState.arrivalCount;
    char line[40];
    std::snprintf(line, sizeof line, "-------%d-------\n", static_cast<int>(count));
    platform::DebugOutput(line);

    std::string name = interfacePath;
    for (char& c : name) c = LowerAscii(c);
    // One download at a time, and none in a dialog that is closing or a session that may end.
    if (DownloadsHeldOff() || !deviceLink) return {};

    for (const DownloadModeFacts& facts : kDownloadModes) {
        if (count < facts.minimumArrivals) continue;
        if (name.find(PathPatternOf(facts)) == std::string::npos) continue;
        return PrepareArrivalDownload(facts, interfacePath);
    }
    return {};
}

ArrivalDecision HandleDeviceArrival(std::uint32_t event, void* record)
{
    if (event != kDbtDeviceArrival || !record) return {};
    return HandleInterfaceArrival(LowercaseName(record));
}
