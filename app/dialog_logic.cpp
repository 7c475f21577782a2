#include "app/dialog_logic.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "state/download_state.h"
#include "app/worker.h"
#include "device/arrival_watcher.h"
#include "device/device_link.h"
#include "device/usb_topology.h"
#include "image/firmware_buffer.h"
#include "platform/hid.h"
#include "platform/ui.h"

namespace {

// Loads the image of mode and starts its download on the link's transfer handle.
// Returns true when the attempt ended the command (a worker started, or the user was told
// that the download failed).
bool StartFoundDownload(platform::WindowHandle dialog, std::int32_t mode)
{
    const bool loaded = LoadFirmwareImage(mode) != 0;
    downloadState.mode = mode;
    if (deviceLink->transferHandle == platform::kInvalidHandle) return false;
    if (!loaded) {
        deviceLink->ReleaseClaim();
        ShowDownloadResult(dialog, platform::DownloadOutcome::Failed);
        return true;
    }
    downloadState.busy = 1;
    if (!StartDownloadWorker(dialog)) ShowDownloadResult(dialog, platform::DownloadOutcome::Failed);
    return true;
}

// Starts the download the watcher prepared, or tells the user that it failed. The box waits until
// the notification being handled has returned.
void ActOnArrival(platform::WindowHandle dialog, const ArrivalDecision& decision)
{
    switch (decision.action) {
    case ArrivalAction::StartDownload:
        if (!StartDownloadWorker(dialog)) ShowDownloadResultLater(dialog, platform::DownloadOutcome::Failed);
        break;
    case ArrivalAction::ReportFailedDownload:
        ShowDownloadResultLater(dialog, platform::DownloadOutcome::Failed);
        break;
    case ArrivalAction::None:
        break;
    }
}

bool HasBinExtension(const std::string& path)
{
    if (path.size() < 4) return false;
    const char* tail = path.c_str() + path.size() - 4;
    static const char kExtension[] = ".bin";
    for (int i = 0; i < 4; ++i) {
        char c = tail[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kExtension[i]) return false;
    }
    return true;
}

void ShowNotSupported(platform::WindowHandle dialog)
{
    platform::ShowMessageBox(dialog, "Not supported file type!", "Error", platform::kMbIconError);
}

}  // namespace

void DialogCreateLink()
{
    deviceLink = new (std::nothrow) DeviceLink();
}

void DialogDestroyLink()
{
    if (deviceLink) {
        if (deviceLink->supportedHandle != platform::kInvalidHandle) {
            platform::HidClose(deviceLink->supportedHandle);
            deviceLink->supportedHandle = platform::kInvalidHandle;
        }
        deviceLink->CloseDeviceLink();
        delete deviceLink;
        deviceLink = nullptr;
    }
    if (!downloadState.busy) ReleaseFirmwareBuffer();
}

void DialogStart(platform::WindowHandle dialog)
{
    // One download at a time: while one runs, Start neither searches nor replaces handles. And
    // none in a dialog that is closing.
    if (!deviceLink || DownloadsHeldOff()) return;

    if (!deviceLink->FindSupportedDevice()) {
        platform::ShowMessageBox(dialog, "Device error!", "Error", platform::kMbIconError);
        // The box runs a message loop: an arrival may have started a download meanwhile, a
        // download may have ended and cleared the flag, or the user may have closed the dialog.
        // Go on only if nothing of that happened.
        if (!deviceLink || DownloadsHeldOff() || downloadState.UpdateModeFlag != 1)
            return;
    } else if (downloadState.UpdateModeFlag != 1) {
        downloadState.TopologyMatchFlag = 0;
        UsbTopologyWalk();
        return;
    }
    DialogStartUpdateModeDownload(dialog);
}

void DialogStartUpdateModeDownload(platform::WindowHandle dialog)
{
    if (!deviceLink || DownloadsHeldOff()) return;
    if (deviceLink->FindProtocol2Device() && StartFoundDownload(dialog, 2)) return;
    if (deviceLink->FindProtocol3Device()) StartFoundDownload(dialog, 3);
}

int DialogDeviceChange(platform::WindowHandle dialog, std::uint32_t event, void* eventData)
{
    constexpr std::uint32_t kBroadcastHeaderSize = 12;
    if (event == kDbtDevNodesChanged) return 0;
    if ((event & 0xC000) != 0x8000) return 1;
    if (!eventData) return 0;
    std::uint32_t size = 0;
    std::uint32_t deviceType = 0;
    std::memcpy(&size, static_cast<const char*>(eventData) + kBroadcastSizeOffset, sizeof size);
    if (size < kBroadcastHeaderSize) return 1;
    std::memcpy(&deviceType, static_cast<const char*>(eventData) + kBroadcastDeviceTypeOffset,
                sizeof deviceType);
    if (deviceType != kDbtDevtypDeviceInterface) return 1;
    ActOnArrival(dialog, HandleDeviceArrival(event, eventData));
    return 1;
}

void DialogInterfaceArrived(platform::WindowHandle dialog, const std::string& interfacePath)
{
    ActOnArrival(dialog, HandleInterfaceArrival(interfacePath));
}

bool DialogMayClose() { return downloadState.busy == 0; }

bool DialogMayEndSession() { return downloadState.transferRunning == 0; }

bool DialogAcceptClose()
{
    if (!DialogMayClose()) return false;
    downloadState.closing = 1;
    return true;
}

bool DialogQueryEndSession()
{
    if (!DialogMayEndSession()) return false;
    downloadState.sessionEnding = 1;
    return true;
}

bool DialogSessionEnded(bool ending, bool closeApp)
{
    if (!ending) {
        downloadState.sessionEnding = 0;
        return false;
    }
    downloadState.closing = 1;
    if (!closeApp) return false;
    // First the request, then the test: either the dialog ends here, or the worker, which clears
    // busy before it looks at the request, ends it (both may: the second close finds no dialog).
    downloadState.closeWhenDone = 1;
    return downloadState.busy == 0;
}

OpenResult DialogOpenFile(platform::WindowHandle dialog, const std::string& path,
                          std::string& checksumText)
{
    if (!HasBinExtension(path)) {
        ShowNotSupported(dialog);
        return OpenResult::Rejected;
    }
    // The buffer belongs to a running download (one may have started while the file dialog or
    // the box was open): leave it alone.
    if (downloadState.busy) return OpenResult::Busy;

    if (!firmwareBuffer.data) {
        firmwareBuffer.data = new (std::nothrow) std::uint8_t[kSmallImageBufferSize];
        firmwareBuffer.size = firmwareBuffer.data ? kSmallImageBufferSize : 0;
    }
    const std::size_t room = firmwareBuffer.size < kSmallImageBufferSize ? firmwareBuffer.size
                                                                         : kSmallImageBufferSize;
    if (room) std::memset(firmwareBuffer.data, 0xFF, room);

    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        ShowNotSupported(dialog);
        return OpenResult::Unreadable;
    }
    std::uint32_t sum = 0;
    std::size_t offset = 0;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        sum += static_cast<std::uint8_t>(c);
        if (offset < room) firmwareBuffer.data[offset] = static_cast<std::uint8_t>(c);
        ++offset;
    }
    std::fclose(file);

    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(sum));
    checksumText = text;
    return OpenResult::Read;
}
