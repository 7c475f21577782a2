// Every report of every protocol, each refused, hung and cut off by the device's removal: the
// download must end in time with "Download Failture!", leave the dialog usable and the state
// clear, the device must hold exactly the reports sent before the fault, and a healthy device
// must then download successfully.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "state/download_state.h"
#include "platform/resources.h"
#include "sim/scenario.h"
#include "tests/fault_expectations.h"

namespace {

using fault_expectations::Fault;

// Time limits run 100000 times faster than real time: a 5000 ms limit takes 50 us.
constexpr std::uint32_t kSweepTimeScale = 100000;
// Real time any one download may take in the sweep before it counts as hung.
constexpr std::uint32_t kHangMs = 5000;
constexpr int kMaxReportedFailures = 8;

// Under the sanitizers a download costs several times as much: there the sweep takes the first
// and last reports and every eighth one between them; the plain build takes every report.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::uint32_t kStride = 8;
#else
constexpr std::uint32_t kStride = 1;
#endif

bool Swept(std::uint32_t k, std::uint32_t positions)
{
    return k <= 4 || k + 4 > positions || k % kStride == 0;
}

// The reports a healthy device accepts in a whole download of mode.
std::vector<std::uint64_t> HealthyReports(int mode)
{
    sim::BeginWorld({kSweepTimeScale, false});
    auto device = sim::MakeRecordedDevice(mode);
    sim::Plug(device);
    const sim::Outcome outcome = sim::RunDownload(sim::Road::Arrival, mode, device, kHangMs);
    std::vector<std::uint64_t> reports = sim::ReceivedReports(device);
    const bool complete = device->DownloadComplete();
    const sim::WorldEnd end = sim::EndWorld();
    EXPECT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.ResultText(), "Download Successful!");
    EXPECT_TRUE(complete);
    EXPECT_TRUE(end.threadsEnded);
    return reports;
}

// A short mode-3 image (the first 8 blocks and a bit of the shipped one) for the healthy download
// that follows most faults of protocol 3: it still checks that the state left behind lets a new
// download run from its beginning, without streaming the whole image again.
std::vector<std::uint8_t> ShortModeThreeImage()
{
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    EXPECT_TRUE(platform::LoadImageResource(108, data, size));
    return std::vector<std::uint8_t>(data, data + std::min<std::size_t>(size, 8 * 58 + 13));
}

class FaultSweep : public ::testing::TestWithParam<std::tuple<int, Fault>> {
protected:
    void TearDown() override { sim::ClearImageResourceOverrides(); }

    void Sweep()
    {
        const int mode = std::get<0>(GetParam());
        const Fault fault = std::get<1>(GetParam());
        const std::vector<std::uint64_t> reference = HealthyReports(mode);
        ASSERT_FALSE(reference.empty());
        const std::uint32_t positions = static_cast<std::uint32_t>(reference.size());
        const std::vector<std::uint8_t> shortImage = ShortModeThreeImage();

        int failures = 0;
        std::uint32_t swept = 0;
        for (std::uint32_t k = 1; k <= positions && failures < kMaxReportedFailures; ++k) {
            if (!Swept(k, positions)) continue;
            // Both roads where there are two, in turn; mode 1 has only the arrival road.
            const sim::Road road = mode != 1 && ++swept % 2 == 1 ? sim::Road::Start : sim::Road::Arrival;
            const std::string problem = RunOne(mode, road, fault, k, positions, reference, shortImage);
            if (!problem.empty()) {
                ++failures;
                ADD_FAILURE() << "mode " << mode << ", " << fault_expectations::Name(fault)
                              << " at report " << k << " of " << positions << ": " << problem;
            }
        }
    }

    static std::string RunOne(int mode, sim::Road road, Fault fault, std::uint32_t k, std::uint32_t positions,
                              const std::vector<std::uint64_t>& reference,
                              const std::vector<std::uint8_t>& shortImage)
    {
        std::ostringstream problem;
        sim::BeginWorld({kSweepTimeScale, false});

        auto device = sim::MakeRecordedDevice(mode);
        fault_expectations::Inject(*device, fault, k);
        sim::Plug(device);
        const sim::Outcome outcome = sim::RunDownload(road, mode, device, kHangMs);
        if (!outcome.ended) {
            // The world cannot be torn down under a running worker: give it all the time it needs.
            sim::EndWorld(60000);
            return "the download did not end";
        }
        problem << fault_expectations::CheckFailedOutcome(mode, k, outcome);
        const double allowed = fault_expectations::SimulatedMs(mode, fault, k, positions) / kSweepTimeScale / 1000.0;
        if (outcome.seconds > allowed + 2.0) problem << "took " << outcome.seconds << " s; ";

        const std::vector<std::uint64_t>& received = sim::ReceivedReports(device);
        if (received.size() != k - 1 || !std::equal(received.begin(), received.end(), reference.begin())) {
            problem << "the device holds " << received.size() << " reports, expected the first " << k - 1 << "; ";
        }
        if (!device->protocolErrors.empty()) problem << "device: " << device->protocolErrors.front() << "; ";

        // The same dialog, a healthy device in place of the faulty one.
        sim::Unplug(device);
        const bool wholeImage = mode != 3 || k <= 3 || k + 2 >= positions || k % 97 == 0;
        if (!wholeImage) sim::OverrideImageResource(108, &shortImage);
        auto healthy = sim::MakeRecordedDevice(mode);
        sim::Plug(healthy);
        const sim::Outcome next = sim::RunDownload(road, mode, healthy, kHangMs);
        if (next.ResultText() != "Download Successful!" || !healthy->DownloadComplete()) {
            problem << "the next download " << (next.ended ? "ended with \"" + next.ResultText() + "\"" : "hung")
                    << (healthy->protocolErrors.empty() ? "" : ": " + healthy->protocolErrors.front()) << "; ";
        }
        if (wholeImage && sim::ReceivedReports(healthy) != reference) problem << "the next download differs; ";
        sim::ClearImageResourceOverrides();

        const sim::WorldEnd end = sim::EndWorld(60000);
        if (!end.threadsEnded) problem << "a worker did not end; ";
        if (end.openHandles != 0) problem << end.openHandles << " handles left open; ";
        if (end.claimsHeld != 0) problem << end.claimsHeld << " download claims left held; ";
        if (!end.bufferReleased) problem << "the image buffer was not released; ";
        return problem.str();
    }
};

TEST_P(FaultSweep, EveryReport) { Sweep(); }

std::string SweepName(const ::testing::TestParamInfo<std::tuple<int, Fault>>& info)
{
    return "Protocol" + std::to_string(std::get<0>(info.param)) +
           fault_expectations::Name(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(AllProtocols, FaultSweep,
                         ::testing::Combine(::testing::Values(1, 2, 3),
                                            ::testing::Values(Fault::Refused, Fault::Stalled, Fault::Removed)),
                         SweepName);

}  // namespace
