// The "Start" command's decisions and the guards that keep one download at a time.
#include "tests/test_world.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>

#include "models/protocol3_device.h"
#include "platform/download_claim.h"
#include "platform/hid.h"

namespace {

using Lines = std::vector<std::string>;

class StartTest : public WorldTest {
protected:
    static int WorkersStarted() { return static_cast<int>(sim::TraceEvents("controls disabled").size()); }
};

TEST_F(StartTest, NoControllerShowsDeviceErrorOnly)
{
    DialogStart(sim::kDialogWindow);
    ASSERT_TRUE(WaitForDownload());
    EXPECT_EQ(BoxTexts(), (Lines{"Error | Device error!"}));
    EXPECT_EQ(sim::Dialog().boxes.at(0).flags, 0x10u);
    EXPECT_EQ(WorkersStarted(), 0);
    EXPECT_TRUE(sim::Dialog().progress.empty());
    EXPECT_EQ(sim::Dialog().barPos, 0);
}

TEST_F(StartTest, NormalModeControllerWalksTheTopologyOnly)
{
    PlugDevice(0x045E, 0x028E);
    downloadState.TopologyMatchFlag = 1;
    DialogStart(sim::kDialogWindow);
    ASSERT_TRUE(WaitForDownload());
    EXPECT_TRUE(BoxTexts().empty());
    EXPECT_EQ(WorkersStarted(), 0);
    EXPECT_EQ(downloadState.TopologyMatchFlag, 0);  // cleared before the walk; no tree matches
    EXPECT_EQ(deviceLink->transferHandle, platform::kInvalidHandle);
}

TEST_F(StartTest, UpdateModeTwoStartsOneWorkerAndNoSecondSearch)
{
    auto device = PlugDevice(0x2563, 0x1818);
    PlugDevice(0x0461, 0x4D81);
    DialogStart(sim::kDialogWindow);
    EXPECT_EQ(downloadState.mode, 2);
    ASSERT_TRUE(WaitForDownload());
    EXPECT_EQ(WorkersStarted(), 1);
    // The mode-3 finder did not run after the worker had started: the last finder line is the
    // protocol-2 finder's, and the transfer handle is still the one on the 0x1818 device.
    EXPECT_EQ(sim::DeviceOfHandle(deviceLink->transferHandle), device);
    EXPECT_EQ(sim::TraceEvents("open rw").size(), 2u);  // supported handle, transfer handle
    EXPECT_EQ(downloadState.busy, 0);
    EXPECT_EQ(downloadState.UpdateModeFlag, 0);
    EXPECT_EQ(firmwareBuffer.size, kSmallImageBufferSize);
}

TEST_F(StartTest, UpdateModeThreeLoadsItsImage)
{
    auto device = PlugDevice(0x0461, 0x4D81);
    DialogStart(sim::kDialogWindow);
    EXPECT_EQ(downloadState.mode, 3);
    ASSERT_TRUE(WaitForDownload());
    EXPECT_EQ(WorkersStarted(), 1);
    EXPECT_EQ(firmwareBuffer.size, kLargeImageBufferSize);
    EXPECT_EQ(firmwareBuffer.imageLength, 195933u);
}

TEST_F(StartTest, ReadWriteOpenFailureLoadsTheImageButStartsNothing)
{
    auto device = PlugDevice(0x2563, 0x1818);
    device->faults.readWriteOpenRefused = true;
    DialogStart(sim::kDialogWindow);
    ASSERT_TRUE(WaitForDownload());
    EXPECT_EQ(WorkersStarted(), 0);
    EXPECT_TRUE(BoxTexts().empty());
    EXPECT_EQ(downloadState.mode, 2);
    EXPECT_EQ(firmwareBuffer.size, kSmallImageBufferSize);
    EXPECT_EQ(downloadState.busy, 0);
    EXPECT_EQ(downloadState.UpdateModeFlag, 1);  // only a worker's end clears it
}

// A mode-2 controller that cannot be opened (another program holds it) is passed over for a
// mode-3 controller beside it.
TEST_F(StartTest, ModeTwoControllerThatCannotBeOpenedFallsThroughToModeThree)
{
    auto held = PlugDevice(0x2563, 0x1818);
    held->faults.readWriteOpenRefused = true;
    auto device = sim::MakeRecordedDevice(3);
    sim::Plug(device);
    const sim::Outcome outcome = sim::RunDownload(sim::Road::Start, 3, device);
    EXPECT_EQ(outcome.ResultText(), "Download Successful!");
    EXPECT_TRUE(device->DownloadComplete());
    EXPECT_EQ(held->reportsSeen + held->repliesSeen, 0u);
    EXPECT_EQ(WorkersStarted(), 1);
}

// A controller that another copy of the program is writing to is left alone as one that another
// program holds (found, no download) by either road, and the debugger output says so. Once the
// other copy has let go, the download claims the controller from before its worker starts until
// its transfer has ended, before the result box.
TEST_F(StartTest, ControllerThatAnotherCopyWritesToIsLeftAlone)
{
    for (const sim::Road road : {sim::Road::Start, sim::Road::Arrival}) {
        SCOPED_TRACE(road == sim::Road::Start ? "Start" : "arrival");
        sim::ResetBus();
        sim::ResetDialogView();
        sim::TraceOpen();
        auto device = sim::MakeRecordedDevice(3);
        sim::Plug(device);
        const std::string path = device->PathOf(0);
        sim::SetClaimedByAnotherCopy(path, true);
        sim::Outcome outcome = sim::RunDownload(road, 3, device);
        EXPECT_TRUE(outcome.boxes.empty());
        EXPECT_EQ(WorkersStarted(), 0);
        EXPECT_EQ(sim::DeviceOperations(*device), 0u);
        const Lines lines = DebugLines();
        const std::string told = path + ": another copy of the updater is writing to this controller; no download here";
        EXPECT_NE(std::find(lines.begin(), lines.end(), told), lines.end());

        sim::SetClaimedByAnotherCopy(path, false);
        outcome = sim::RunDownload(road, 3, device);
        EXPECT_EQ(outcome.ResultText(), "Download Successful!");
        EXPECT_TRUE(device->DownloadComplete());
        const Lines trace = sim::TraceLines();
        const auto at = [&](const std::string& line) { return std::find(trace.begin(), trace.end(), line) - trace.begin(); };
        EXPECT_LT(at("claim taken " + path), at("controls disabled"));
        EXPECT_LT(at("controls disabled"), at("claim released " + path));
        EXPECT_LT(at("claim released " + path), at("message Download | Download Successful!"));
        EXPECT_EQ(sim::ClaimsHeld(), 0);
        deviceLink->CloseDeviceLink();
    }
}

// The claim's answers short of a claim, through the seam: held by another copy, the controller is
// left alone; no object to be had (the system makes none for this program) or denied (an object of
// the claim's name that this program may not use, another's or a squatter's), the download goes on
// as before claims existed, one at a time in this program, and the debugger output says why.
TEST_F(StartTest, ClaimThatCannotBeHadIsToldAndTheDownloadGoesOn)
{
    struct Case {
        platform::Status answer;
        bool downloads;
        std::string line;  // after the path
    };
    const Case cases[] = {
        {platform::Status::Held, false,
         ": another copy of the updater is writing to this controller; no download here"},
        {platform::Status::Failed, true,
         ": no download claim can be made (Access is denied.); the download goes on without it"},
        {platform::Status::Denied, true,
         ": the download claim exists but this program may not use it (Access is denied.); the download goes "
         "on without it"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        sim::ResetBus();
        sim::ResetDialogView();
        auto device = sim::MakeRecordedDevice(3);
        sim::Plug(device);
        const std::string path = device->PathOf(0);
        sim::SetClaimRefused(path, c.answer, "Access is denied.");
        const sim::Outcome outcome = sim::RunDownload(sim::Road::Start, 3, device);
        EXPECT_EQ(outcome.ResultText(), c.downloads ? "Download Successful!" : "");
        EXPECT_EQ(device->DownloadComplete(), c.downloads);
        const Lines lines = DebugLines();
        EXPECT_NE(std::find(lines.begin(), lines.end(), path + c.line), lines.end());
        EXPECT_EQ(sim::ClaimsHeld(), 0);
        sim::SetClaimRefused(path, platform::Status::Done, "");
        deviceLink->CloseDeviceLink();
    }
}

// Two controllers in one update mode, the first one (both of its collections) written by another
// copy: the finder passes the whole of the first and updates the second, on either road.
TEST_F(StartTest, SecondControllerIsUpdatedWhileAnotherCopyWritesTheFirst)
{
    for (const sim::Road road : {sim::Road::Start, sim::Road::Arrival}) {
        SCOPED_TRACE(road == sim::Road::Start ? "Start" : "arrival");
        sim::ResetBus();
        sim::ResetDialogView();
        const models::HidCollection vendor{0xFF00, 0x0001, 0, 65, 0, 65};
        auto first = std::make_shared<models::Protocol3Device>(std::vector<models::HidCollection>{vendor, vendor});
        auto second = sim::MakeRecordedDevice(3);
        sim::Plug(first);
        sim::Plug(second);
        sim::SetClaimedByAnotherCopy(first->PathOf(0), true);
        const sim::Outcome outcome = sim::RunDownload(road, 3, second);
        EXPECT_EQ(outcome.ResultText(), "Download Successful!");
        EXPECT_TRUE(second->DownloadComplete());
        EXPECT_EQ(sim::DeviceOperations(*first), 0u);
        // Start meets the first controller and says why it leaves it; the arrival road tries the
        // controller that arrived first.
        const Lines lines = DebugLines();
        const std::string told =
            first->PathOf(0) + ": another copy of the updater is writing to this controller; no download here";
        EXPECT_EQ(std::find(lines.begin(), lines.end(), told) != lines.end(), road == sim::Road::Start);
        EXPECT_EQ(sim::ClaimsHeld(), 0);
        sim::SetClaimedByAnotherCopy(first->PathOf(0), false);
        deviceLink->CloseDeviceLink();
    }
}

// The arrival road updates the controller that arrived, not another of the same mode that was
// there before it.
TEST_F(StartTest, ArrivalUpdatesTheControllerThatArrived)
{
    auto present = sim::MakeRecordedDevice(2);
    auto arrived = sim::MakeRecordedDevice(2);
    sim::Plug(present);
    sim::Plug(arrived);
    const sim::Outcome outcome = sim::RunDownload(sim::Road::Arrival, 2, arrived);
    EXPECT_EQ(outcome.ResultText(), "Download Successful!");
    EXPECT_TRUE(arrived->DownloadComplete());
    EXPECT_EQ(sim::DeviceOperations(*present), 0u);
}

TEST_F(StartTest, FlagLeftFromAnEarlierStartStillLeadsToTheUpdateFinders)
{
    downloadState.UpdateModeFlag = 1;
    DialogStart(sim::kDialogWindow);
    ASSERT_TRUE(WaitForDownload());
    EXPECT_EQ(BoxTexts(), (Lines{"Error | Device error!"}));
    // Supported finder, then the two update-mode finders, each writing its two closing lines.
    EXPECT_EQ(DebugLines().size(), 6u);
}

TEST_F(StartTest, MissingImageStartsNoDownloadAndSaysSo)
{
    PlugDevice(0x2563, 0x1818);
    sim::OverrideImageResource(107, nullptr);
    DialogStart(sim::kDialogWindow);
    ASSERT_TRUE(WaitForDownload());
    EXPECT_EQ(WorkersStarted(), 0);
    EXPECT_EQ(BoxTexts(), (Lines{"Download | Download Failture!"}));
    EXPECT_EQ(downloadState.busy, 0);
}

TEST_F(StartTest, ThreadCreationFailureLeavesNothingBusy)
{
    PlugDevice(0x0461, 0x4D81);
    sim::SetThreadCreationFails(true);
    DialogStart(sim::kDialogWindow);
    EXPECT_EQ(BoxTexts(), (Lines{"Download | Download Failture!"}));
    EXPECT_EQ(downloadState.busy, 0);
    EXPECT_EQ(downloadState.UpdateModeFlag, 0);
    EXPECT_TRUE(DialogMayClose());
}

// Holds the worker in its result box until the test lets it go, so that the test can act
// while a download is under way.
class HeldDownload {
public:
    HeldDownload()
    {
        sim::SetMessageBoxHook([this](const sim::MessageBoxRecord&) {
            std::unique_lock<std::mutex> lock(mutex_);
            shown_ = true;
            changed_.notify_all();
            changed_.wait(lock, [this] { return released_; });
        });
    }
    ~HeldDownload()
    {
        Release();
        sim::WaitForThreads();
        sim::SetMessageBoxHook(nullptr);
    }
    bool WaitUntilShown()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30), [this] { return shown_; });
    }
    void Release()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool shown_ = false;
    bool released_ = false;
};

// The end of the session is refused while the transfer runs, and no longer once it has ended:
// the result box may wait for hours. The download stays under way until its worker ends.
TEST_F(StartTest, NothingStartsOrCloseWhileADownloadRuns)
{
    auto device = PlugDevice(0x2563, 0x1818);
    std::atomic<int> sessionMayEndInTransfer{-1};
    sim::SetProgressHook([&](std::int32_t) {
        if (sessionMayEndInTransfer < 0) sessionMayEndInTransfer = DialogMayEndSession() ? 1 : 0;
    });
    HeldDownload held;
    DialogStart(sim::kDialogWindow);
    ASSERT_TRUE(held.WaitUntilShown());
    EXPECT_EQ(sessionMayEndInTransfer, 0);
    EXPECT_TRUE(DialogMayEndSession());
    EXPECT_FALSE(sim::Dialog().sessionEndBlocked);
    EXPECT_FALSE(sim::Dialog().systemKeptAwake);
    EXPECT_EQ(downloadState.busy, 1);
    EXPECT_FALSE(DialogMayClose());
    EXPECT_FALSE(DialogAcceptClose());
    EXPECT_EQ(downloadState.closing, 0);
    const platform::DeviceHandle handle = deviceLink->transferHandle;
    const std::size_t linesBefore = DebugLines().size();

    DialogStart(sim::kDialogWindow);  // a second Start does nothing at all
    EXPECT_EQ(DebugLines().size(), linesBefore);
    AnnounceArrival(device);          // nor do arrivals, beyond their count and line
    EXPECT_EQ(downloadState.arrivalCount, 3);
    EXPECT_EQ(deviceLink->transferHandle, handle);
    // Nor Open: the buffer belongs to the download.
    const std::uint8_t* buffer = firmwareBuffer.data;
    const std::vector<std::uint8_t> before(buffer, buffer + firmwareBuffer.size);
    std::string sum = "unchanged";
    EXPECT_EQ(DialogOpenFile(sim::kDialogWindow, std::string(OSKEL_SOURCE_DIR) + "/res/firmware/mode1.bin", sum),
              OpenResult::Busy);
    EXPECT_EQ(sum, "unchanged");
    EXPECT_EQ(firmwareBuffer.data, buffer);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), firmwareBuffer.data));

    held.Release();
    ASSERT_TRUE(WaitForDownload());
    EXPECT_TRUE(DialogMayClose());
    EXPECT_FALSE(sim::Dialog().sessionEndBlocked);
    EXPECT_FALSE(sim::Dialog().systemKeptAwake);
    EXPECT_EQ(sim::Dialog().focusedItem, 1007);
    EXPECT_EQ(static_cast<int>(sim::TraceEvents("controls disabled").size()), 1);
}

// From the moment the dialog lets the session end (WM_QUERYENDSESSION answered yes), Windows may
// take long to send WM_ENDSESSION: meanwhile neither road starts a transfer, which the end of the
// process would cut off mid-flash. WM_ENDSESSION(FALSE), the session goes on after all, lets
// downloads start again.
TEST_F(StartTest, NothingStartsOnceTheSessionMayEndUntilItGoesOn)
{
    auto device = PlugDevice(0x2563, 0x1818);
    ASSERT_TRUE(DialogQueryEndSession());
    DialogStart(sim::kDialogWindow);
    AnnounceArrival(device);
    ASSERT_TRUE(sim::WaitForThreads());
    EXPECT_TRUE(BoxTexts().empty());
    EXPECT_EQ(sim::DeviceOperations(*device), 0u);
    EXPECT_EQ(sim::TraceEvents("controls disabled").size(), 0u);

    EXPECT_FALSE(DialogSessionEnded(false, false));
    const sim::Outcome outcome = sim::RunDownload(sim::Road::Arrival, 2, device);
    EXPECT_EQ(outcome.ResultText(), "Download Successful!");
    EXPECT_TRUE(device->DownloadComplete());
}

// WM_ENDSESSION(TRUE) with ENDSESSION_CLOSEAPP: Windows' Restart Manager closes the program (an
// installer is to replace it). With no download under way the dialog ends at once; with one, it
// ends when the download has ended, and nothing starts meanwhile. Without ENDSESSION_CLOSEAPP the
// process ends anyway, and the dialog only starts nothing more.
TEST_F(StartTest, RestartManagersCloseEndsTheDialogOnceNoDownloadRuns)
{
    EXPECT_FALSE(DialogSessionEnded(true, false));
    EXPECT_EQ(downloadState.closing, 1);
    ResetDownloadState();
    EXPECT_TRUE(DialogSessionEnded(true, true));
    ResetDownloadState();

    auto device = PlugDevice(0x2563, 0x1818);
    {
        HeldDownload held;
        DialogStart(sim::kDialogWindow);
        ASSERT_TRUE(held.WaitUntilShown());
        EXPECT_FALSE(DialogSessionEnded(true, true));
        AnnounceArrival(device);
        EXPECT_TRUE(sim::TraceEvents("dialog-end").empty());
    }
    ASSERT_TRUE(WaitForDownload());
    const Lines trace = sim::TraceLines();
    ASSERT_EQ(sim::TraceEvents("dialog-end").size(), 1u);
    EXPECT_EQ(trace.back(), "dialog-end");
    EXPECT_EQ(sim::TraceEvents("controls disabled").size(), 1u);
}

// A close accepted while the "Device error!" box runs its message loop: the dialog is on its way
// out and will be destroyed when the box returns. An update-mode controller that arrives meanwhile
// starts nothing, and Start does not go on after the box (UpdateModeFlag is still 1 from an
// earlier Start), for the teardown would cut either download off mid-flash.
TEST_F(StartTest, NothingStartsOnceACloseWasAcceptedInsideABox)
{
    downloadState.UpdateModeFlag = 1;
    std::shared_ptr<models::HidDevice> device;
    bool closeAccepted = false;
    sim::SetMessageBoxHook([&](const sim::MessageBoxRecord& box) {
        if (box.text != "Device error!") return;
        closeAccepted = DialogAcceptClose();
        device = sim::MakeRecordedDevice(2);
        sim::Plug(device);
        AnnounceArrival(device);
    });
    DialogStart(sim::kDialogWindow);
    EXPECT_EQ(downloadState.busy, 0);
    ASSERT_TRUE(WaitForDownload());
    sim::SetMessageBoxHook(nullptr);

    EXPECT_TRUE(closeAccepted);
    EXPECT_EQ(WorkersStarted(), 0);
    EXPECT_EQ(BoxTexts(), (Lines{"Error | Device error!"}));
    EXPECT_EQ(downloadState.arrivalCount, 3);  // the arrivals are still counted
    EXPECT_TRUE(sim::TraceEvents("open rw").empty());
    ASSERT_TRUE(device);
    EXPECT_EQ(device->reportsSeen, 0u);
}

// The "Device error!" box runs a message loop, in which an arrival can start a download. A Start
// that goes on after the box (UpdateModeFlag still 1 from an earlier Start whose read-write open
// failed) must not reopen the running download's handle, reload its image or start a second one.
TEST_F(StartTest, DownloadThatAnArrivalStartsInsideTheDeviceErrorBoxIsTheOnlyOne)
{
    downloadState.UpdateModeFlag = 1;
    std::shared_ptr<models::HidDevice> device;
    sim::SetMessageBoxHook([&](const sim::MessageBoxRecord& box) {
        if (box.text != "Device error!") return;
        device = sim::MakeRecordedDevice(2);
        sim::Plug(device);
        std::vector<std::uint8_t> record = sim::MakeInterfaceBroadcast(device->PathOf(1));
        DialogDeviceChange(sim::kDialogWindow, 0x8000, record.data());
    });
    DialogStart(sim::kDialogWindow);
    ASSERT_TRUE(WaitForDownload());
    sim::SetMessageBoxHook(nullptr);

    EXPECT_EQ(WorkersStarted(), 1);
    EXPECT_EQ(BoxTexts(), (Lines{"Error | Device error!", "Download | Download Successful!"}));
    ASSERT_TRUE(device);
    EXPECT_TRUE(device->DownloadComplete());
    EXPECT_TRUE(device->protocolErrors.empty());
    EXPECT_EQ(sim::TraceEvents("open rw").size(), 1u);  // the transfer handle, opened once
}

// The mirror: a Start-road download begins while a box of the arrival road is open (its image
// could not be loaded). The arrival road must do nothing more when the box is gone.
TEST_F(StartTest, DownloadThatStartBeginsInsideAnArrivalBoxIsTheOnlyOne)
{
    auto startDevice = sim::MakeRecordedDevice(2);
    sim::Plug(startDevice);
    auto arrivingDevice = PlugDevice(0x0461, 0x4D81);
    sim::OverrideImageResource(108, nullptr);
    bool startPressed = false;
    sim::SetMessageBoxHook([&](const sim::MessageBoxRecord& box) {
        if (box.text != "Download Failture!" || startPressed) return;
        startPressed = true;
        DialogStart(sim::kDialogWindow);
    });
    AnnounceArrival(arrivingDevice);
    ASSERT_TRUE(WaitForDownload());
    sim::SetMessageBoxHook(nullptr);

    EXPECT_TRUE(startPressed);
    EXPECT_EQ(WorkersStarted(), 1);
    EXPECT_EQ(BoxTexts(), (Lines{"Download | Download Failture!", "Download | Download Successful!"}));
    EXPECT_TRUE(startDevice->DownloadComplete());
    EXPECT_TRUE(startDevice->protocolErrors.empty());
    EXPECT_EQ(arrivingDevice->reportsSeen, 0u);
}

}  // namespace
