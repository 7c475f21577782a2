#include "app/worker.h"

#include <cstring>

#include "app/dialog_ids.h"
#include "device/device_link.h"
#include "image/firmware_buffer.h"
#include "platform/hid.h"
#include "platform/system.h"
#include "platform/ui.h"
#include "protocol/protocol1_reports.h"
#include "protocol/report_sizes.h"
#include "protocol/scrambled_report.h"
#include "protocol/time_limits.h"
#include "protocol/transfers.h"
#include "state/download_modes.h"
#include "state/download_state.h"

namespace {

// "无法识别的设备" and "错误", in code page 936.
constexpr const char kUnrecognisedDeviceText[] = "\xCE\xDE\xB7\xA8\xCA\xB6\xB1\xF0\xB5\xC4\xC9\xE8\xB1\xB8";
constexpr const char kErrorCaption[] = "\xB4\xED\xCE\xF3";

// The identify command and its reply on the link, and how the exchange ended.
platform::Outcome Identify(std::uint8_t* reply, const std::uint8_t* inverse)
{
    ScrambledReport report = {};
    protocol1::PutIdentify(report);
    platform::Outcome exchanged = SendScrambledReport(report, inverse);
    if (exchanged) {
        reply[0] = protocol1::kReplyReportId;
        exchanged = platform::HidGetInputReport(deviceLink->transferHandle, reply, protocol1::kReplySize,
                                                kReplyReadLimitMs);
    }
    return exchanged;
}

// Mode 1: the identify command and its reply, then protocol 1. A controller whose declared
// reports cannot carry the exchange is as unrecognised as one that does not answer it. Where the
// requests take the controller's USB interface (Linux), the first one claims it: a claim that
// fails names the node it could not open, and the front end hears of it as of a refused open.
bool RunMode1(platform::WindowHandle dialog)
{
    std::uint8_t reply[protocol1::kReplySize] = {};
    std::uint8_t inverse[256];
    InvertScrambleTable(ScrambleTable, inverse);

    bool identified = TransferHandleCarries(kScrambledReportSize, protocol1::kReplySize);
    if (identified) {
        const platform::Outcome exchanged = Identify(reply, inverse);
        const DownloadModeFacts* facts = FactsOfMode(downloadState.mode);
        if (!exchanged && !exchanged.node.empty() && facts) {
            platform::ControllerNotOpened(facts->vendorId, facts->productId, exchanged);
        }
        identified = exchanged.done();
    }
    if (!identified) {
        platform::ShowMessageBoxCp936(dialog, kUnrecognisedDeviceText, kErrorCaption, platform::kMbOk);
        return false;
    }
    if (!firmwareBuffer.data || firmwareBuffer.size < kSmallImageBufferSize) return false;
    return RunProtocol1Transfer(firmwareBuffer.data, kSmallImageBufferSize, ScrambleTable,
                                platform::GetDialogItem(dialog, IDC_PROGRESS)) != 0;
}

bool RunTransfer(Transfer transfer, platform::WindowHandle dialog)
{
    switch (transfer) {
    case Transfer::Protocol1: return RunMode1(dialog);
    case Transfer::Protocol2: return DownloadProtocol2(dialog);
    case Transfer::Protocol3: return DownloadProtocol3(dialog);
    }
    return false;
}

// What a download holds of the system while its transfer runs: the end of the session and idle
// sleep.
void HoldSystem(platform::WindowHandle dialog, bool held)
{
    platform::SetSessionEndBlocked(dialog, held);
    platform::KeepSystemAwake(dialog, held);
}

// Gives back what the transfer held, as soon as it has ended: the result box that follows may wait
// for a click for hours (on the arrival road nobody may be at the keyboard), and meanwhile the
// machine must be free to sleep and to shut down, and another copy of the program free to update
// the controller.
void EndTransfer(platform::WindowHandle dialog)
{
    downloadState.transferRunning = 0;
    HoldSystem(dialog, false);
    if (deviceLink) deviceLink->ReleaseClaim();
}

// The outcome box's text and icon.
struct ResultBox {
    const char* text;
    unsigned flags;
};

ResultBox ResultBoxOf(platform::DownloadOutcome outcome)
{
    if (outcome == platform::DownloadOutcome::Succeeded) return {"Download Successful!", platform::kMbIconInformation};
    return {"Download Failture!", platform::kMbIconError};
}

}  // namespace

void ShowDownloadResult(platform::WindowHandle dialog, platform::DownloadOutcome outcome)
{
    platform::DownloadEnded(dialog, outcome);
    const ResultBox box = ResultBoxOf(outcome);
    platform::ShowMessageBox(dialog, box.text, "Download", box.flags);
}

void ShowDownloadResultLater(platform::WindowHandle dialog, platform::DownloadOutcome outcome)
{
    platform::DownloadEnded(dialog, outcome);
    const ResultBox box = ResultBoxOf(outcome);
    platform::ShowMessageBoxLater(dialog, box.text, "Download", box.flags);
}

void DownloadWorker(void* argument)
{
    const auto dialog = static_cast<platform::WindowHandle>(argument);
    platform::SetChildControlsEnabled(dialog, false);

    const DownloadModeFacts* facts = FactsOfMode(downloadState.mode);
    const bool success = deviceLink && facts && RunTransfer(facts->transfer, dialog);

    // The controls come back first: while they are disabled, the end of the session is refused.
    platform::SetChildControlsEnabled(dialog, true);
    EndTransfer(dialog);
    ShowDownloadResult(dialog, success ? platform::DownloadOutcome::Succeeded : platform::DownloadOutcome::Failed);
    downloadState.UpdateModeFlag = 0;
    platform::SendProgress(dialog, 0);
    // Protocol 1 sets ranges of its own on the bar; the next download reports on 0 to 10000.
    if (facts && facts->transfer == Transfer::Protocol1) platform::ProgressBarSetRange(platform::GetDialogItem(dialog, IDC_PROGRESS), 0, 10000);
    platform::FocusDialogItem(dialog, IDC_START);
    // Last: from here on a new download may start, and nothing of this one touches the dialog.
    downloadState.busy = 0;
}

bool StartDownloadWorker(platform::WindowHandle dialog)
{
    downloadState.transferRunning = 1;
    HoldSystem(dialog, true);
    if (platform::StartDetachedThread(DownloadWorker, dialog)) return true;
    EndTransfer(dialog);
    downloadState.UpdateModeFlag = 0;
    downloadState.busy = 0;
    return false;
}
