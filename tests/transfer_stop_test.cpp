// A download that the system asks to end (the machine is about to sleep or shut down): each
// transfer ends at the next report boundary as its protocol ends a transfer cut short, tells
// whether the controller had taken anything, and the next download, not asked to end, completes.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "models/protocol1_device.h"
#include "models/protocol2_device.h"
#include "models/protocol3_device.h"
#include "sim/scenario.h"
#include "state/download_state.h"
#include "tests/test_world.h"

namespace {

const std::string kSuccess = "Download | Download Successful!";
const std::string kFailure = "Download | Download Failture!";

// The model of a controller whose report number `last` (from 1) comes while the system asks the
// download to end: the transfer sends nothing after it but what its protocol sends to end.
template <class Model>
class AskedToEndAfter : public Model {
public:
    explicit AskedToEndAfter(std::uint32_t last) : last_(last) {}
    bool OnWrite(const std::uint8_t* report, std::size_t length) override
    {
        Count();
        return Model::OnWrite(report, length);
    }
    bool OnSetOutputReport(const std::uint8_t* report, std::size_t length) override
    {
        Count();
        return Model::OnSetOutputReport(report, length);
    }
    std::uint32_t Reports() const { return seen_; }

private:
    void Count()
    {
        if (++seen_ == last_) downloadState.stopAsked = 1;
    }
    std::uint32_t last_;
    std::uint32_t seen_ = 0;
};

class TransferStopTest : public WorldTest {
protected:
    template <class Model>
    std::shared_ptr<AskedToEndAfter<Model>> Plug(std::uint32_t last)
    {
        auto device = std::make_shared<AskedToEndAfter<Model>>(last);
        sim::Plug(device);
        return device;
    }

    // One download by the arrival road, asked to end or not: the interfaces' arrivals up to the
    // one that starts it. A later one could start a second download once the first had ended,
    // which a download stopped before its first report does at once.
    void Download(const std::shared_ptr<models::HidDevice>& device)
    {
        ASSERT_TRUE(sim::LaunchDownload(sim::Road::Arrival, 0, device));
        ASSERT_TRUE(WaitForDownload());
    }

    // The download asked to end failed cleanly: nothing refused, partly written, incomplete.
    static void ExpectStoppedPartlyWritten(const models::HidDevice& device)
    {
        EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kFailure}));
        EXPECT_FALSE(device.DownloadComplete());
        EXPECT_TRUE(device.protocolErrors.empty()) << device.protocolErrors.front();
        EXPECT_EQ(downloadState.stopped, kStoppedPartlyWritten);
    }

    // The system has resumed: the next download runs to its end.
    void ExpectWholeAfterResume(const std::shared_ptr<models::HidDevice>& device)
    {
        downloadState.stopAsked = 0;
        downloadState.stopped = kNotStopped;
        Download(device);
        EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kFailure, kSuccess}));
        EXPECT_TRUE(device->DownloadComplete());
        EXPECT_TRUE(device->protocolErrors.empty()) << device->protocolErrors.front();
        EXPECT_EQ(downloadState.stopped, kNotStopped);
    }
};

TEST_F(TransferStopTest, Protocol1EndsBetweenTwoReportsWithoutItsFinish)
{
    auto device = Plug<models::Protocol1Device>(30);  // the identify report and 29 erase reports
    Download(device);
    ExpectStoppedPartlyWritten(*device);
    EXPECT_EQ(device->Reports(), 30u);
    EXPECT_EQ(device->FinishCount(), 0u);
    ExpectWholeAfterResume(device);
}

TEST_F(TransferStopTest, Protocol2EndsBetweenTwoDataReports)
{
    auto device = Plug<models::Protocol2Device>(100);  // the start report and 99 data reports
    Download(device);
    ExpectStoppedPartlyWritten(*device);
    EXPECT_EQ(device->Reports(), 100u);
    EXPECT_EQ(device->DataReportsAccepted(), 99u);
    ExpectWholeAfterResume(device);
}

TEST_F(TransferStopTest, Protocol3EndsWithItsEndReportAfterTheBlockTaken)
{
    auto device = Plug<models::Protocol3Device>(50);  // the begin report and 49 blocks
    Download(device);
    ExpectStoppedPartlyWritten(*device);
    // The end report follows, so that the controller leaves its download; it answers that blocks
    // are missing.
    EXPECT_EQ(device->Reports(), 51u);
    EXPECT_EQ(device->BlocksAccepted(), 49u);
    EXPECT_EQ(device->EndReportsSeen(), 1u);
    ExpectWholeAfterResume(device);
}

// Asked before the first report: the controller takes nothing and keeps what it had.
TEST_F(TransferStopTest, AskedBeforeTheFirstReportSendsNothing)
{
    auto mode2 = Plug<models::Protocol2Device>(0);
    downloadState.stopAsked = 1;
    Download(mode2);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kFailure}));
    EXPECT_EQ(mode2->Reports(), 0u);
    EXPECT_EQ(downloadState.stopped, kStoppedBeforeWriting);
    sim::Unplug(mode2);

    downloadState.stopped = kNotStopped;
    auto mode3 = Plug<models::Protocol3Device>(0);
    downloadState.stopAsked = 1;
    Download(mode3);
    EXPECT_EQ(mode3->Reports(), 0u);
    EXPECT_EQ(mode3->EndReportsSeen(), 0u);
    EXPECT_EQ(downloadState.stopped, kStoppedBeforeWriting);
}

}  // namespace
