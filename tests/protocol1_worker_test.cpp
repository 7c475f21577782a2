// The mode-1 road through the download worker: identify, its reply, then protocol 1.
#include <fstream>
#include <iterator>

#include "app/worker.h"
#include "tests/protocol1_test_world.h"

namespace {

using namespace protocol1_test;

constexpr const char kUnrecognised[] = "错误 | 无法识别的设备";
constexpr const char kFailure[] = "Download | Download Failture!";
constexpr const char kSuccess[] = "Download | Download Successful!";

std::vector<std::uint8_t> ShippedImage()
{
    std::ifstream in(std::string(OSKEL_SOURCE_DIR) + "/res/firmware/mode1.bin", std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class Protocol1WorkerTest : public Protocol1World {
protected:
    // Starts a mode-1 download as the arrival road does, and waits for its end.
    void RunDownload()
    {
        ASSERT_TRUE(deviceLink->FindProtocol1Device());
        ASSERT_EQ(LoadFirmwareImage(1), 1);
        downloadState.mode = 1;
        downloadState.busy = 1;
        ASSERT_TRUE(StartDownloadWorker(sim::kDialogWindow));
        ASSERT_TRUE(WaitForDownload());
    }

    static std::vector<std::string> GetInputLines() { return sim::TraceEvents("get-input"); }
};

TEST_F(Protocol1WorkerTest, AnsweredIdentifyRunsProtocol1WithTheShippedImage)
{
    const auto image = ShippedImage();
    ASSERT_EQ(image.size(), 32768u);
    sim::SetFixedTickCount(500);
    RunDownload();

    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kSuccess}));
    EXPECT_EQ(sim::Dialog().boxes.at(0).flags, 0x40u);

    const auto sent = SentReports();
    ASSERT_GE(sent.size(), 61u);
    std::vector<std::uint8_t> identify = {0x03, 0xB5, 0x38, 0xB4, 0x00, 0x00, 0x00, 0xA4};
    identify.resize(64, 0x00);
    EXPECT_EQ(sent[0].plain, identify);
    const auto replies = GetInputLines();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].rfind("get-input ok 02", 0), 0u);
    EXPECT_EQ(replies[0].size(), std::string("get-input ok ").size() + 92);
    EXPECT_EQ(ReportsOf(sent, 0x8A).size(), 59u);
    EXPECT_EQ(sent.back().Command(), 0xA4);

    EXPECT_TRUE(device->protocolErrors.empty()) << device->protocolErrors.front();
    EXPECT_TRUE(device->DownloadComplete());
    const auto flash = device->Flash();
    for (std::uint32_t a = kRegionStart; a < 32767; ++a) ASSERT_EQ(flash[a], image[a]) << a;
    EXPECT_EQ(flash[32767], 0xFF);
    EXPECT_NE(image[32767], 0xFF);

    const auto view = sim::Dialog();
    EXPECT_TRUE(view.controlsEnabled);
    EXPECT_EQ(view.barPos, 0);
    EXPECT_EQ(view.progress.back(), 0);
    EXPECT_EQ(downloadState.busy.load(), 0);
    EXPECT_EQ(downloadState.UpdateModeFlag.load(), 0);
    // The bar is back on the dialog's range, so that a following download reports on it.
    EXPECT_EQ(view.barLow, 0);
    EXPECT_EQ(view.barHigh, 10000);
    const auto lines = sim::TraceLines();
    EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()),
              (std::vector<std::string>{"message Download | Download Successful!", "progress 0", "bar-range 0 10000",
                                        "focus 1007"}));
}

TEST_F(Protocol1WorkerTest, AnyReplyContentCountsAsAnAnswer)
{
    auto image = VariedImage();
    image.resize(32768);
    sim::OverrideImageResource(106, &image);
    RunDownload();
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kSuccess}));
    EXPECT_TRUE(device->DownloadComplete());
}

TEST_F(Protocol1WorkerTest, UnansweredIdentifyStopsAfterTheIdentifyReport)
{
    ASSERT_TRUE(device->SetOption("no-identify-reply", 1));
    RunDownload();

    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kUnrecognised, kFailure}));
    const auto boxes = sim::Dialog().boxes;
    EXPECT_EQ(boxes[0].flags, 0u);
    EXPECT_EQ(boxes[1].flags, 0x10u);
    const auto sent = SentReports();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].Command(), 0xB4);
    ASSERT_EQ(GetInputLines().size(), 1u);
    EXPECT_EQ(GetInputLines()[0], "get-input fail -");
    EXPECT_EQ(device->FinishCount(), 0u);
    EXPECT_EQ(device->EraseCount(0x0A00), 0u);
    EXPECT_EQ(device->Flash()[0x0A00], models::Protocol1Device::OldContent(0x0A00));
    EXPECT_EQ(sim::Dialog().barPos, 0);
    EXPECT_EQ(downloadState.busy.load(), 0);
}

// An unrecognised controller: the exchange has ended, so everything held is given back (the end of
// the session, idle sleep, the claim) before the boxes, which may wait for a click for hours.
TEST_F(Protocol1WorkerTest, UnrecognisedControllerIsGivenBackBeforeItsBoxes)
{
    ASSERT_TRUE(device->SetOption("no-identify-reply", 1));
    std::vector<int> claimsAtBoxes;
    sim::SetMessageBoxHook([&](const sim::MessageBoxRecord&) { claimsAtBoxes.push_back(sim::ClaimsHeld()); });
    RunDownload();
    std::vector<std::string> steps;
    for (const std::string& line : sim::TraceLines()) {
        for (const char* step : {"session-end", "awake", "controls", "claim released", "message"}) {
            if (line.rfind(step, 0) == 0) steps.push_back(line.substr(0, line.find(" \\\\")));
        }
    }
    EXPECT_EQ(steps, (std::vector<std::string>{"session-end blocked", "awake held", "controls disabled",
                                               "controls enabled", "session-end allowed", "awake released",
                                               "claim released", std::string("message ") + kUnrecognised,
                                               std::string("message ") + kFailure}));
    EXPECT_EQ(claimsAtBoxes, (std::vector<int>{0, 0}));
}

TEST_F(Protocol1WorkerTest, RefusedIdentifyReadsNoReply)
{
    device->faults.refuseReport = 1;
    RunDownload();
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kUnrecognised, kFailure}));
    EXPECT_TRUE(GetInputLines().empty());
    EXPECT_EQ(SentReports().size(), 1u);
}

TEST_F(Protocol1WorkerTest, ReplyThatNeverComesRunsOutOfTime)
{
    device->faults.stallReply = 1;
    RunDownload();
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kUnrecognised, kFailure}));
    EXPECT_EQ(SentReports().size(), 1u);
}

TEST_F(Protocol1WorkerTest, FailedTransferAfterIdentifyShowsOnlyTheFailure)
{
    device->faults.refuseReport = 1 + 10;  // the tenth erase
    RunDownload();
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kFailure}));
    EXPECT_EQ(SentReports().size(), 11u);
    EXPECT_EQ(device->FinishCount(), 0u);
    EXPECT_TRUE(sim::Dialog().controlsEnabled);
    EXPECT_EQ(sim::Dialog().barPos, 0);
}

// Without the mode's whole image buffer (none loaded, or a smaller one) nothing is programmed and
// the download has failed.
TEST_F(Protocol1WorkerTest, MissingOrSmallImageBufferIsAFailedDownload)
{
    for (const std::size_t size : {std::size_t{0}, kSmallImageBufferSize - 1}) {
        SCOPED_TRACE(size);
        sim::ResetDialogView();
        ReleaseFirmwareBuffer();
        if (size != 0) {
            firmwareBuffer.data = new std::uint8_t[size]();
            firmwareBuffer.size = size;
        }
        ASSERT_TRUE(deviceLink->FindProtocol1Device());
        downloadState.mode = 1;
        downloadState.busy = 1;
        ASSERT_TRUE(StartDownloadWorker(sim::kDialogWindow));
        ASSERT_TRUE(WaitForDownload());
        EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kFailure}));
        EXPECT_EQ(device->EraseCount(0x0A00), 0u);
        EXPECT_EQ(device->FinishCount(), 0u);
        deviceLink->CloseDeviceLink();
    }
}

TEST_F(Protocol1WorkerTest, ArrivalOfTheSecondInterfaceStartsProtocol1)
{
    AnnounceArrival(device);
    ASSERT_TRUE(WaitForDownload());
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kSuccess}));
    EXPECT_TRUE(device->DownloadComplete());
    EXPECT_EQ(device->IdentifyCount(), 1u);
    EXPECT_TRUE(device->protocolErrors.empty());
}

}  // namespace
