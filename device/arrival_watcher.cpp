#include "device/arrival_watcher.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "app/download_state.h"
#include "app/worker.h"
#include "device/device_link.h"
#include "image/firmware_buffer.h"
#include "platform/system.h"

namespace {

struct ArrivalPattern {
    std::string_view text;
    bool (DeviceLink::*finder)();
    std::int32_t mode;
    std::int32_t minimumArrivals;  // protocol 1 starts only from the second arrival on
};

constexpr ArrivalPattern kPatterns[] = {
    {"vid_2563&pid_0059", &DeviceLink::FindProtocol1Device, 1, 2},
    {"vid_2563&pid_1818", &DeviceLink::FindProtocol2Device, 2, 0},
    {"vid_0461&pid_4d81", &DeviceLink::FindProtocol3Device, 3, 0},
};

// Lowercases the record's name in place, within the size the record declares, and returns it
// (up to its terminating NUL, or to the end of the record when it has none).
std::string_view LowercaseName(void* record)
{
    std::uint32_t declaredSize = 0;
    std::memcpy(&declaredSize, static_cast<const char*>(record) + kBroadcastSizeOffset, sizeof declaredSize);
    if (declaredSize <= kBroadcastNameOffset) return {};
    char* name = static_cast<char*>(record) + kBroadcastNameOffset;
    const std::size_t room = declaredSize - kBroadcastNameOffset;
    std::size_t length = 0;
    while (length < room && name[length] != '\0') {
        if (name[length] >= 'A' && name[length] <= 'Z') name[length] = static_cast<char>(name[length] - 'A' + 'a');
        ++length;
    }
    return {name, length};
}

void StartArrivalDownload(platform::WindowHandle dialog, const ArrivalPattern& pattern)
{
    if (!(deviceLink->*pattern.finder)()) return;
    const bool loaded = LoadFirmwareImage(pattern.mode) != 0;
    if (deviceLink->transferHandle == platform::kInvalidHandle) return;
    if (!loaded) {
        ShowDownloadResult(dialog, false);
        return;
    }
    downloadState.mode = pattern.mode;
    downloadState.busy = 1;
    downloadState.arrivalCount = 0;
    StartDownloadWorker(dialog);
}

}  // namespace

std::int32_t HandleDeviceArrival(platform::WindowHandle dialog, std::uint32_t event, void* record)
{
    if (event != kDbtDeviceArrival || !record) return 1;

    const std::int32_t count = ++downloadState.arrivalCount;
    char line[40];
    std::snprintf(line, sizeof line, "-------%d-------\n", static_cast<int>(count));
    platform::DebugOutput(line);

    const std::string_view name = LowercaseName(record);
    if (downloadState.busy || !deviceLink) return 1;

    for (const ArrivalPattern& pattern : kPatterns) {
        if (count < pattern.minimumArrivals) continue;
        if (name.find(pattern.text) == std::string_view::npos) continue;
        StartArrivalDownload(dialog, pattern);
        break;
    }
    return 1;
}
