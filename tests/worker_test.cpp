// The download worker: controls, outcome box, state it clears, the bar reset.
#include "tests/test_world.h"

#include <algorithm>

#include "app/worker.h"
#include "platform/hid.h"
#include "protocol/scrambled_report.h"
#include "protocol/transfers.h"
#include "models/protocol3_device.h"

namespace {

using Lines = std::vector<std::string>;

class WorkerTest : public WorldTest {};

TEST_F(WorkerTest, UnknownModeFailsWithoutTraffic)
{
    for (std::int32_t mode : {0, 4, -1}) {
        SCOPED_TRACE(mode);
        sim::ResetDialogView();
        sim::TraceOpen();
        auto device = PlugDevice(0x0461, 0x4D81);
        ASSERT_TRUE(deviceLink->FindProtocol3Device());
        downloadState.mode = mode;
        downloadState.busy = 1;
        downloadState.UpdateModeFlag = 1;
        ASSERT_TRUE(StartDownloadWorker(sim::kDialogWindow));
        ASSERT_TRUE(WaitForDownload());
        EXPECT_EQ(device->reportsSeen + device->repliesSeen, 0u);
        EXPECT_EQ(BoxTexts(), (Lines{"Download | Download Failture!"}));
        EXPECT_EQ(sim::Dialog().boxes.at(0).flags, 0x10u);
        EXPECT_EQ(downloadState.busy, 0);
        EXPECT_EQ(downloadState.UpdateModeFlag, 0);
        EXPECT_TRUE(sim::Dialog().controlsEnabled);
        EXPECT_EQ(sim::Dialog().progress, (std::vector<std::int32_t>{0}));
    }
}

TEST_F(WorkerTest, StepsComeInTheirOrder)
{
    downloadState.mode = 9;
    downloadState.busy = 1;
    std::int32_t busyDuringBox = -1;
    std::int32_t flagDuringBox = -1;
    downloadState.UpdateModeFlag = 1;
    sim::SetMessageBoxHook([&](const sim::MessageBoxRecord&) {
        busyDuringBox = downloadState.busy;
        flagDuringBox = downloadState.UpdateModeFlag;
    });
    // busy is cleared last: a download that starts once it is 0 never sees this one's bar reset.
    std::int32_t busyAtBarReset = -1;
    sim::SetProgressHook([&](std::int32_t) { busyAtBarReset = downloadState.busy; });
    ASSERT_TRUE(StartDownloadWorker(sim::kDialogWindow));
    ASSERT_TRUE(WaitForDownload());
    // The system is held (no end of the session, no idle sleep) from before the worker starts
    // until the transfer has ended, and given back, once the controls are enabled again, before
    // the result box, which may wait for a click for hours; the focus goes back to Start last.
    EXPECT_EQ(sim::TraceLines(), (Lines{"session-end blocked", "awake held", "controls disabled", "controls enabled",
                                        "session-end allowed", "awake released",
                                        "message Download | Download Failture!", "progress 0", "focus 1007"}));
    // While the box is shown the download still counts as under way.
    EXPECT_EQ(busyDuringBox, 1);
    EXPECT_EQ(flagDuringBox, 1);
    EXPECT_EQ(busyAtBarReset, 1);
    EXPECT_EQ(downloadState.busy, 0);
}

// The transfers and the identify exchange called with no link at all fail without a report.
TEST_F(WorkerTest, ProtocolsWithoutALinkSendNothing)
{
    auto device = PlugDevice(0x0461, 0x4D81);
    ASSERT_EQ(LoadFirmwareImage(3), 1);
    DialogDestroyLink();
    ASSERT_EQ(deviceLink, nullptr);
    ASSERT_EQ(LoadFirmwareImage(3), 1);
    EXPECT_FALSE(DownloadProtocol2(sim::kDialogWindow));
    EXPECT_FALSE(DownloadProtocol3(sim::kDialogWindow));
    std::uint8_t inverse[256];
    InvertScrambleTable(ScrambleTable, inverse);
    std::uint8_t report[kScrambledReportSize] = {};
    EXPECT_FALSE(SendScrambledReport(report, inverse));
    EXPECT_EQ(RunProtocol1Transfer(firmwareBuffer.data, kSmallImageBufferSize, ScrambleTable, nullptr), 0);
    for (std::int32_t mode : {1, 2, 3}) {
        downloadState.mode = mode;
        ASSERT_TRUE(StartDownloadWorker(sim::kDialogWindow));
        ASSERT_TRUE(WaitForDownload());
    }
    EXPECT_EQ(BoxTexts(), Lines(3, "Download | Download Failture!"));
    EXPECT_EQ(sim::TraceEvents("write").size() + sim::TraceEvents("set-output").size(), 0u);
    DialogCreateLink();
}

// A controller whose collection declares reports that the class driver would not let the
// protocol's reports through (an output report of another length, an input report longer than the
// protocol's buffer) gets none of them: the download fails at once, the debugger output names the
// sizes, and a mode-1 controller is as unrecognised as one that does not answer.
TEST_F(WorkerTest, ControllerWhoseReportsDoNotFitGetsNothing)
{
    struct Case {
        int mode;
        models::HidCollection collection;
        const char* line;
    };
    const char* const kMode1 = "; the download sends output reports of 64 bytes and reads input reports of at most 46 bytes";
    const char* const kMode3 = "; the download sends output reports of 65 bytes and reads input reports of at most 65 bytes";
    const Case cases[] = {
        {1, {0xFF00, 0x0001, 2, 46, 3, 33}, kMode1},
        {1, {0xFF00, 0x0001, 2, 64, 3, 64}, kMode1},
        {2, {0xFF00, 0x0001, 3, 64, 3, 65}, "; the download sends output reports of 64 bytes"},
        {3, {0x0001, 0x0005, 0, 66, 0, 65}, kMode3},
        {3, {0x0001, 0x0005, 0, 65, 0, 64}, kMode3},
        {3, {0x0001, 0x0005, 0, 1, 0, 65}, kMode3},  // the id byte alone: no reply fits
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "mode " << c.mode << ", input " << c.collection.inputLength
                                          << ", output " << c.collection.outputLength);
        sim::ResetBus();
        sim::ResetDialogView();
        const std::uint16_t vendorId = c.mode == 3 ? 0x0461 : 0x2563;
        const std::uint16_t productId = c.mode == 1 ? 0x0059 : c.mode == 2 ? 0x1818 : 0x4D81;
        // Mode 1 starts from the second interface's arrival: its controller shows a keyboard first.
        std::vector<models::HidCollection> collections = {c.collection};
        if (c.mode == 1) collections.insert(collections.begin(), {0x0001, 0x0006, 1, 9, 1, 2});
        auto device = PlugCollections(vendorId, productId, collections);
        const sim::Outcome outcome = sim::RunDownload(sim::Road::Arrival, c.mode, device);
        EXPECT_TRUE(outcome.ended);
        EXPECT_EQ(outcome.ResultText(), "Download Failture!");
        EXPECT_EQ(outcome.boxes.size(), c.mode == 1 ? 2u : 1u);
        if (c.mode == 1) {
            EXPECT_EQ(outcome.boxes.at(0).text, "无法识别的设备");
        }
        EXPECT_EQ(device->reportsSeen + device->repliesSeen + device->stackRefusals, 0u);
        const std::string expected = "Report sizes: the controller declares output " +
                                     std::to_string(c.collection.outputLength) + " and input " +
                                     std::to_string(c.collection.inputLength) + " bytes" + c.line;
        const auto lines = DebugLines();
        EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << expected;
        deviceLink->CloseDeviceLink();
    }
}

// Declared reports that let the protocol's reports through, and caps that cannot be read at all,
// let the download run: the class driver is the judge then.
TEST_F(WorkerTest, ReportsThatFitOrCapsThatCannotBeReadLetTheDownloadRun)
{
    // A 64-byte input report fits the protocol's 65-byte reply buffer.
    auto fitting = std::make_shared<models::Protocol3Device>(std::vector<models::HidCollection>{{0x0001, 0x0005, 0, 64, 0, 65}});
    auto unreadable = std::make_shared<models::Protocol3Device>();
    unreadable->faults.capsUnreadable = true;
    for (const auto& device : {fitting, unreadable}) {
        SCOPED_TRACE(device == fitting ? "a 64-byte input report" : "caps unreadable");
        sim::ResetBus();
        sim::Plug(device);
        const sim::Outcome outcome = sim::RunDownload(sim::Road::Start, 3, device);
        EXPECT_EQ(outcome.ResultText(), "Download Successful!");
        EXPECT_TRUE(device->DownloadComplete());
        EXPECT_EQ(device->stackRefusals, 0u);
        deviceLink->CloseDeviceLink();
    }
}

TEST_F(WorkerTest, ModeOneWithoutAnswerSaysUnrecognisedDevice)
{
    // A device that accepts every report but never answers input report 2.
    auto device = PlugCollections(0x2563, 0x0059, {{0xFF00, 0x0001, 2, 46, 3, 64}});
    device->faults.failReply = 1;
    ASSERT_TRUE(deviceLink->FindProtocol1Device());
    ASSERT_EQ(LoadFirmwareImage(1), 1);
    downloadState.mode = 1;
    ASSERT_TRUE(StartDownloadWorker(sim::kDialogWindow));
    ASSERT_TRUE(WaitForDownload());
    EXPECT_EQ(BoxTexts(), (Lines{"错误 | 无法识别的设备", "Download | Download Failture!"}));
    EXPECT_EQ(sim::Dialog().boxes.at(0).flags, 0u);
    EXPECT_LE(device->reportsSeen, 1u);  // the identify report at most, nothing after it
}

}  // namespace
