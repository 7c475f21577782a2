// The download worker: controls, outcome box, state it clears, the bar reset.
#include "tests/test_world.h"

#include "app/worker.h"
#include "platform/hid.h"

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
    ASSERT_TRUE(StartDownloadWorker(sim::kDialogWindow));
    ASSERT_TRUE(WaitForDownload());
    EXPECT_EQ(sim::TraceLines(), (Lines{"session-end blocked", "controls disabled", "controls enabled",
                                        "message Download | Download Failture!", "progress 0",
                                        "session-end allowed"}));
    // While the box is shown the download still counts as under way.
    EXPECT_EQ(busyDuringBox, 1);
    EXPECT_EQ(flagDuringBox, 1);
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
