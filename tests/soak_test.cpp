// Many downloads one after another, across the three modes and both roads, with faults drawn
// at random from a seed: every download ends, its outcome matches its fault, and nothing is
// left behind. Meant for the sanitizer build, where a leak or a stray access is a finding.
//
//   OSKEL_SOAK_COUNT   downloads (default 250; the full soak is 1000)
//   OSKEL_SOAK_SEED    seed of the draw (default 20240607)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "sim/scenario.h"
#include "tests/fault_expectations.h"

namespace {

using fault_expectations::Fault;

constexpr std::uint32_t kDefaultCount = 250;
constexpr std::uint32_t kDefaultSeed = 20240607;
constexpr std::uint32_t kTimeScale = 100000;
constexpr std::uint32_t kHangMs = 10000;
// Downloads per dialog lifetime: the dialog is torn down and created anew after so many.
constexpr std::uint32_t kDownloadsPerDialog = 16;

std::uint32_t FromEnvironment(const char* name, std::uint32_t fallback)
{
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return fallback;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 0);
    return end && *end == '\0' ? static_cast<std::uint32_t>(value) : fallback;
}

std::vector<std::uint64_t> HealthyReports(int mode)
{
    sim::BeginWorld({kTimeScale, false});
    auto device = sim::MakeRecordedDevice(mode);
    sim::Plug(device);
    sim::RunDownload(sim::Road::Arrival, mode, device, kHangMs);
    std::vector<std::uint64_t> reports = sim::ReceivedReports(device);
    sim::EndWorld();
    return reports;
}

struct Draw {
    int mode;
    sim::Road road;
    Fault fault;
    std::uint32_t report;  // where the fault strikes, from 1

    std::string Describe() const
    {
        std::ostringstream text;
        text << "mode " << mode << " by " << (road == sim::Road::Start ? "Start" : "arrival") << ", "
             << fault_expectations::Name(fault);
        if (fault != Fault::None) text << " at report " << report;
        return text.str();
    }
};

TEST(Soak, SeededDownloadsWithRandomFaults)
{
    const std::uint32_t count = FromEnvironment("OSKEL_SOAK_COUNT", kDefaultCount);
    const std::uint32_t seed = FromEnvironment("OSKEL_SOAK_SEED", kDefaultSeed);
    std::cout << "soak: " << count << " downloads, seed " << seed << std::endl;
    RecordProperty("count", static_cast<int>(count));
    RecordProperty("seed", static_cast<int>(seed));

    std::vector<std::uint64_t> reference[4];
    for (int mode = 1; mode <= 3; ++mode) {
        reference[mode] = HealthyReports(mode);
        ASSERT_FALSE(reference[mode].empty()) << "mode " << mode;
    }

    std::mt19937 random(seed);
    std::uint32_t outcomes[4] = {};
    std::shared_ptr<models::HidDevice> previous;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (i % kDownloadsPerDialog == 0) sim::BeginWorld({kTimeScale, false});

        Draw draw;
        draw.mode = std::uniform_int_distribution<int>(1, 3)(random);
        const bool byStart = std::uniform_int_distribution<int>(0, 1)(random) == 1;
        draw.road = draw.mode != 1 && byStart ? sim::Road::Start : sim::Road::Arrival;
        const int faultDraw = std::uniform_int_distribution<int>(0, 4)(random);
        draw.fault = faultDraw <= 1 ? Fault::None : static_cast<Fault>(faultDraw - 1);
        const auto positions = static_cast<std::uint32_t>(reference[draw.mode].size());
        draw.report = std::uniform_int_distribution<std::uint32_t>(1, positions)(random);
        SCOPED_TRACE("download " + std::to_string(i + 1) + " (seed " + std::to_string(seed) + "): " + draw.Describe());

        // The device of the previous download leaves; this one arrives.
        if (previous) sim::Unplug(previous);
        auto device = sim::MakeRecordedDevice(draw.mode);
        fault_expectations::Inject(*device, draw.fault, draw.report);
        sim::Plug(device);
        previous = device;

        const sim::Outcome outcome = sim::RunDownload(draw.road, draw.mode, device, kHangMs);
        ASSERT_TRUE(outcome.ended) << "the download did not end";
        ++outcomes[static_cast<int>(draw.fault)];

        const std::vector<std::uint64_t>& received = sim::ReceivedReports(device);
        EXPECT_TRUE(device->protocolErrors.empty()) << device->protocolErrors.front();
        if (draw.fault == Fault::None) {
            ASSERT_EQ(outcome.boxes.size(), 1u);
            EXPECT_EQ(outcome.ResultText(), "Download Successful!");
            EXPECT_EQ(outcome.boxes.back().flags, 0x40u);
            EXPECT_TRUE(device->DownloadComplete());
            EXPECT_TRUE(received == reference[draw.mode]) << "the device received other reports";
            EXPECT_TRUE(outcome.controlsEnabled && outcome.controlsEnabledAtResult);
            EXPECT_EQ(outcome.busy, 0);
            EXPECT_EQ(outcome.updateModeFlag, 0);
            EXPECT_EQ(outcome.barPos, 0);
        } else {
            EXPECT_EQ(fault_expectations::CheckFailedOutcome(draw.mode, draw.report, outcome), "");
            ASSERT_EQ(received.size(), draw.report - 1);
            EXPECT_TRUE(std::equal(received.begin(), received.end(), reference[draw.mode].begin()))
                << "the device received other reports than the first " << draw.report - 1;
            EXPECT_FALSE(device->DownloadComplete());
        }
        if (::testing::Test::HasFailure()) break;

        if ((i + 1) % kDownloadsPerDialog == 0 || i + 1 == count) {
            previous.reset();
            const sim::WorldEnd end = sim::EndWorld();
            ASSERT_TRUE(end.threadsEnded);
            EXPECT_EQ(end.openHandles, 0);
            EXPECT_EQ(end.claimsHeld, 0);
            EXPECT_TRUE(end.bufferReleased);
        }
    }
    if (::testing::Test::HasFailure()) sim::EndWorld();
    std::cout << "soak: " << outcomes[0] << " healthy, " << outcomes[1] << " refused, " << outcomes[2]
              << " hung, " << outcomes[3] << " removed" << std::endl;
}

}  // namespace
