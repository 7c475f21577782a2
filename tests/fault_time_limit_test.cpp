// A device that stops answering holds a download for its time limits and not much longer.
// Time runs 50 times faster than real time here, so a 5000 ms limit takes 100 ms.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "sim/scenario.h"

namespace {

constexpr std::uint32_t kTimeScale = 50;

struct HungCase {
    const char* name;
    int mode;
    sim::Road road;
    std::function<void(models::HidDevice&)> inject;
    double simulatedMs;  // limits and pauses the download must sit out
};

void ExpectEndsInTime(const HungCase& hung)
{
    SCOPED_TRACE(hung.name);
    sim::BeginWorld({kTimeScale, false});
    auto device = sim::MakeRecordedDevice(hung.mode);
    hung.inject(*device);
    sim::Plug(device);
    const sim::Outcome outcome = sim::RunDownload(hung.road, hung.mode, device, 30000);
    EXPECT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.ResultText(), "Download Failture!");
    const double expected = hung.simulatedMs / kTimeScale / 1000.0;
    EXPECT_GE(outcome.seconds, expected * 0.95);
    EXPECT_LE(outcome.seconds, expected * 1.1 + 0.25) << "expected about " << expected << " s";
    const sim::WorldEnd end = sim::EndWorld();
    EXPECT_EQ(end.openHandles, 0);
    EXPECT_TRUE(end.bufferReleased);
}

TEST(FaultTimeLimit, HungDataReportOfProtocolTwo)
{
    ExpectEndsInTime({"data report 99", 2, sim::Road::Start,
                      [](models::HidDevice& d) { d.faults.stallFromReport = 100; }, 5000});
}

TEST(FaultTimeLimit, ProtocolTwoStartThatNeverCompletes)
{
    // Ten attempts, each held for its limit and followed by its pause.
    ExpectEndsInTime({"start", 2, sim::Road::Arrival,
                      [](models::HidDevice& d) { d.faults.stallFromReport = 1; }, 10 * (5000 + 1000)});
}

TEST(FaultTimeLimit, ProtocolTwoStartRefusedTenTimes)
{
    ExpectEndsInTime({"start", 2, sim::Road::Start,
                      [](models::HidDevice& d) { d.faults.refuseFromReport = 1; }, 10 * 1000});
}

TEST(FaultTimeLimit, HungBlockAndEndOfProtocolThree)
{
    // Block 10 hangs, and so does the end report sent after it.
    ExpectEndsInTime({"block 10", 3, sim::Road::Arrival,
                      [](models::HidDevice& d) { d.faults.stallFromReport = 11; }, 2 * 5000});
}

TEST(FaultTimeLimit, ProtocolThreeBeginReplyThatNeverComes)
{
    // The device may erase its flash before it answers the begin report: the longer limit.
    ExpectEndsInTime({"begin reply", 3, sim::Road::Start,
                      [](models::HidDevice& d) { d.faults.stallReply = 1; }, 30000});
}

TEST(FaultTimeLimit, ProtocolThreeBlockReplyThatNeverComes)
{
    // Reply 6 is block 5's; the end report follows at once and is answered.
    ExpectEndsInTime({"block 5 reply", 3, sim::Road::Start,
                      [](models::HidDevice& d) { d.faults.stallReply = 6; }, 5000});
}

TEST(FaultTimeLimit, HungEraseOfProtocolOne)
{
    ExpectEndsInTime({"erase 4", 1, sim::Road::Arrival,
                      [](models::HidDevice& d) { d.faults.stallFromReport = 5; }, 5000});
}

TEST(FaultTimeLimit, ProtocolOneIdentifyReplyThatNeverComes)
{
    ExpectEndsInTime({"identify reply", 1, sim::Road::Arrival,
                      [](models::HidDevice& d) { d.faults.stallReply = 1; }, 5000});
}

}  // namespace
