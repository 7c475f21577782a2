#include "sim/scenario.h"

#include <atomic>
#include <chrono>

#include "app/dialog_logic.h"
#include "state/download_state.h"
#include "device/device_link.h"
#include "image/firmware_buffer.h"
#include "sim/broadcast.h"
#include "models/protocol1_device.h"
#include "models/protocol2_device.h"
#include "models/protocol3_device.h"
#include "sim/download_claims.h"
#include "sim/trace.h"
#include "sim/usb_tree.h"

namespace sim {

std::uint64_t Fingerprint(const std::uint8_t* bytes, std::size_t length)
{
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (std::size_t i = 0; i < length; ++i) {
        hash ^= bytes[i];
        hash *= 0x100000001B3ull;
    }
    return hash ^ length;
}

std::shared_ptr<models::HidDevice> MakeRecordedDevice(int mode)
{
    switch (mode) {
    case 1: return std::make_shared<Recorded<models::Protocol1Device>>();
    case 2: return std::make_shared<Recorded<models::Protocol2Device>>();
    case 3: return std::make_shared<Recorded<models::Protocol3Device>>();
    default: return nullptr;
    }
}

const std::vector<std::uint64_t>& ReceivedReports(const std::shared_ptr<models::HidDevice>& device)
{
    static const std::vector<std::uint64_t> none;
    if (auto* d = dynamic_cast<Recorded<models::Protocol1Device>*>(device.get())) return d->received;
    if (auto* d = dynamic_cast<Recorded<models::Protocol2Device>*>(device.get())) return d->received;
    if (auto* d = dynamic_cast<Recorded<models::Protocol3Device>*>(device.get())) return d->received;
    return none;
}

void BeginWorld(const WorldSettings& settings)
{
    ResetBus();
    ResetClaims();
    ResetUsbTree();
    ResetDialogView();
    TraceOpen();
    TraceKeepLines(settings.keepTrace);
    SetTimeScale(settings.timeScale);
    if (settings.fixTickCount) SetFixedTickCount(0);
    else ClearFixedTickCount();
    ClearImageResourceOverrides();
    SetThreadCreationFails(false);
    ResetDownloadState();
    DialogCreateLink();
}

WorldEnd EndWorld(std::uint32_t waitMs)
{
    WorldEnd end;
    end.threadsEnded = WaitForThreads(waitMs);
    if (end.threadsEnded) {
        DialogDestroyLink();
        end.openHandles = OpenHandleCount();
        end.claimsHeld = ClaimsHeld();
        end.bufferReleased = firmwareBuffer.data == nullptr && firmwareBuffer.size == 0;
        ReleaseFirmwareBuffer();
        ResetBus();
        ResetClaims();
    }
    ClearFixedTickCount();
    ClearImageResourceOverrides();
    return end;
}

bool LaunchDownload(Road road, int mode, const std::shared_ptr<models::HidDevice>& device)
{
    if (road == Road::Start) {
        if (mode != 2 && mode != 3) return false;
        DialogStart(kDialogWindow);
        return true;
    }
    // The watcher sets arrivalCount to 0 when it starts a worker; an arrival that starts
    // nothing leaves it at 1 or more.
    for (std::size_t i = 0; i < device->collections.size(); ++i) {
        std::vector<std::uint8_t> record = MakeInterfaceBroadcast(device->PathOf(i));
        DialogDeviceChange(kDialogWindow, 0x8000, record.data());
        DeliverPostedMessages();
        if (downloadState.arrivalCount == 0) return true;
    }
    return false;
}

Outcome RunDownload(Road road, int mode, const std::shared_ptr<models::HidDevice>& device, std::uint32_t waitMs)
{
    struct Seen {
        std::atomic<bool> progressSeen{false};
        std::atomic<bool> disabledAtProgress{false};
        std::atomic<bool> enabledAtResult{false};
    };
    auto seen = std::make_shared<Seen>();
    SetProgressHook([seen](std::int32_t) {
        if (seen->progressSeen.exchange(true)) return;
        seen->disabledAtProgress = !Dialog().controlsEnabled;
    });
    SetMessageBoxHook([seen](const MessageBoxRecord& box) {
        if (box.caption == "Download") seen->enabledAtResult = Dialog().controlsEnabled;
    });

    const DialogView before = Dialog();
    const auto start = std::chrono::steady_clock::now();
    LaunchDownload(road, mode, device);
    Outcome outcome;
    outcome.ended = WaitForThreads(waitMs);
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    const DialogView view = Dialog();
    outcome.boxes.assign(view.boxes.begin() + static_cast<std::ptrdiff_t>(before.boxes.size()), view.boxes.end());
    outcome.outcomes.assign(view.outcomes.begin() + static_cast<std::ptrdiff_t>(before.outcomes.size()),
                            view.outcomes.end());
    outcome.controlsDisabledDuringTransfer = seen->disabledAtProgress;
    outcome.controlsEnabledAtResult = seen->enabledAtResult;
    outcome.controlsEnabled = view.controlsEnabled;
    outcome.busy = downloadState.busy;
    outcome.updateModeFlag = downloadState.UpdateModeFlag;
    outcome.barPos = view.barPos;
    if (outcome.ended) {
        SetProgressHook(nullptr);
        SetMessageBoxHook(nullptr);
    }
    return outcome;
}

std::uint32_t DeviceOperations(const models::HidDevice& device) { return device.reportsSeen + device.repliesSeen; }

}  // namespace sim
