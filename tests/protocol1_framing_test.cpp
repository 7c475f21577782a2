// Protocol 1's report framing: header, checksum, substitution and the device's view of them.
#include <algorithm>
#include <array>
#include <numeric>

#include "protocol/scrambled_report.h"
#include "tests/protocol1_test_world.h"

namespace {

using namespace protocol1_test;

std::array<std::uint8_t, 256> Inverse(const std::uint8_t* table)
{
    std::array<std::uint8_t, 256> inverse{};
    InvertScrambleTable(table, inverse.data());
    return inverse;
}

std::array<std::uint8_t, 256> IdentityTable()
{
    std::array<std::uint8_t, 256> table{};
    std::iota(table.begin(), table.end(), 0);
    return table;
}

TEST(ScrambleTableTest, IsAPermutationOfAllByteValues)
{
    std::array<int, 256> seen{};
    for (int p = 0; p < 256; ++p) ++seen[ScrambleTable[p]];
    for (int v = 0; v < 256; ++v) EXPECT_EQ(seen[v], 1) << "value " << v;
}

TEST(ScrambleTableTest, IsNotTheIdentity)
{
    int moved = 0;
    for (int p = 0; p < 256; ++p) moved += ScrambleTable[p] != p ? 1 : 0;
    // A table that leaves most bytes alone would scramble nothing worth the name.
    EXPECT_GT(moved, 200);
}

TEST(ScrambleTableTest, InverseUndoesTheTableBothWays)
{
    const auto inverse = Inverse(ScrambleTable);
    for (int p = 0; p < 256; ++p) {
        EXPECT_EQ(inverse[ScrambleTable[p]], p);
        EXPECT_EQ(ScrambleTable[inverse[p]], p);
    }
}

TEST(ScrambleTableTest, InverseTakesTheFirstPositionOfAValue)
{
    // Not a permutation: 7 stands at positions 2 and 9; the first one counts.
    std::array<std::uint8_t, 256> table = IdentityTable();
    table[9] = 7;
    table[7] = 9;
    table[2] = 7;
    const auto inverse = Inverse(table.data());
    EXPECT_EQ(inverse[7], 2);
    EXPECT_EQ(inverse[9], 7);
    EXPECT_EQ(inverse[200], 200);
}

class ScrambledReportTest : public Protocol1World {};

TEST_F(ScrambledReportTest, IdentifyReportHasTheFixedPlainBytes)
{
    OpenTransferHandle();
    const auto inverse = Inverse(ScrambleTable);
    ScrambledReport report = {};
    report[3] = 0xB4;
    ASSERT_TRUE(SendScrambledReport(report, inverse.data()));

    const auto sent = SentReports();
    ASSERT_EQ(sent.size(), 1u);
    std::vector<std::uint8_t> expected = {0x03, 0xB5, 0x38, 0xB4, 0x00, 0x00, 0x00, 0xA4};
    expected.resize(64, 0x00);
    EXPECT_EQ(sent[0].plain, expected);
    EXPECT_EQ(sent[0].wire[0], 0x03);
    EXPECT_EQ(sent[0].wire[1], inverse[0xB5]);
    EXPECT_EQ(sent[0].wire[2], inverse[0x38]);
    EXPECT_EQ(sent[0].wire[7], inverse[0xA4]);
    // The caller's buffer now holds what went on the wire.
    EXPECT_EQ(std::vector<std::uint8_t>(report, report + 64), sent[0].wire);
    EXPECT_EQ(device->IdentifyCount(), 1u);
    EXPECT_TRUE(device->protocolErrors.empty());
}

TEST_F(ScrambledReportTest, ChecksumWrapsModulo256AndTheDeviceAgrees)
{
    OpenTransferHandle();
    const auto inverse = Inverse(ScrambleTable);
    ScrambledReport report = {};
    report[3] = 0x8A;
    report[4] = 0x0A;
    report[6] = 0x01;
    ASSERT_TRUE(SendScrambledReport(report, inverse.data()));

    // A program report of a blank chunk whose padding is blank too: 56 bytes of 0xFF.
    std::fill(report, report + 64, 0xFF);
    report[3] = 0x79;
    report[4] = 0x0A;
    report[5] = 0x00;
    report[6] = 0x20;
    ASSERT_TRUE(SendScrambledReport(report, inverse.data()));

    const auto sent = SentReports();
    ASSERT_EQ(sent.size(), 2u);
    const unsigned dataSum = (56u * 0xFF) % 256;
    EXPECT_EQ(dataSum, 0xC8u);
    const unsigned expected = (0x03 + 0xB5 + 0x38 + 0x79 + 0x0A + 0x00 + 0x20 + dataSum) % 256;
    EXPECT_EQ(sent[1].plain[7], expected);
    EXPECT_TRUE(device->protocolErrors.empty());
    EXPECT_EQ(device->ProgramCount(0x0A00), 1u);
}

TEST_F(ScrambledReportTest, ReportIdIsNeverSubstituted)
{
    OpenTransferHandle();
    // A table that moves 3 elsewhere: the report id still goes out as 3.
    std::array<std::uint8_t, 256> table = IdentityTable();
    std::swap(table[3], table[0x40]);
    const auto inverse = Inverse(table.data());
    ScrambledReport report = {};
    report[3] = 0x03;
    report[8] = 0x03;
    SendScrambledReport(report, inverse.data());
    EXPECT_EQ(report[0], 0x03);
    EXPECT_EQ(report[3], 0x40);
    EXPECT_EQ(report[8], 0x40);
}

TEST_F(ScrambledReportTest, IdentityTableSendsThePlainForm)
{
    OpenTransferHandle();
    const auto table = IdentityTable();
    const auto inverse = Inverse(table.data());
    ScrambledReport report = {};
    report[3] = 0x12;
    report[4] = 0x34;
    for (int i = 8; i < 64; ++i) report[i] = static_cast<std::uint8_t>(i * 5);
    SendScrambledReport(report, inverse.data());

    std::uint8_t sum = 0;
    for (int i = 0; i < 64; ++i) sum = static_cast<std::uint8_t>(sum + (i == 7 ? 0 : report[i]));
    EXPECT_EQ(report[0], 0x03);
    EXPECT_EQ(report[1], 0xB5);
    EXPECT_EQ(report[2], 0x38);
    EXPECT_EQ(report[7], sum);
    EXPECT_EQ(report[63], static_cast<std::uint8_t>(63 * 5));
}

TEST_F(ScrambledReportTest, ReceiverRecoversTheChecksumFromTheOtherBytes)
{
    OpenTransferHandle();
    const auto inverse = Inverse(ScrambleTable);
    ScrambledReport report = {};
    report[3] = 0x79;
    report[4] = 0x55;
    report[5] = 0xAA;
    report[6] = 0x09;
    for (int i = 8; i < 64; ++i) report[i] = static_cast<std::uint8_t>(0xC0 + i);
    SendScrambledReport(report, inverse.data());

    std::uint8_t recovered[64];
    for (int i = 0; i < 64; ++i) recovered[i] = i == 0 ? report[0] : ScrambleTable[report[i]];
    std::uint8_t sum = 0;
    for (int i = 0; i < 64; ++i) sum = static_cast<std::uint8_t>(sum + (i == 7 ? 0 : recovered[i]));
    EXPECT_EQ(recovered[7], sum);
    EXPECT_EQ(recovered[4], 0x55);
    EXPECT_EQ(recovered[63], static_cast<std::uint8_t>(0xC0 + 63));
}

TEST_F(ScrambledReportTest, ResendingWithoutRewritingSubstitutesTwice)
{
    OpenTransferHandle();
    const auto inverse = Inverse(ScrambleTable);
    ScrambledReport report = {};
    report[3] = 0xB4;
    SendScrambledReport(report, inverse.data());
    SendScrambledReport(report, inverse.data());
    const auto sent = SentReports();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].plain[3], inverse[0xB4]);
    EXPECT_EQ(sent[1].plain[8], inverse[0x00]);
    // The header is rewritten every time.
    EXPECT_EQ(sent[1].plain[1], 0xB5);
    EXPECT_EQ(sent[1].plain[2], 0x38);
}

TEST_F(ScrambledReportTest, RefusedReportIsAFalseResult)
{
    OpenTransferHandle();
    device->faults.refuseReport = 1;
    const auto inverse = Inverse(ScrambleTable);
    ScrambledReport report = {};
    report[3] = 0xB4;
    EXPECT_FALSE(SendScrambledReport(report, inverse.data()));
    EXPECT_EQ(device->IdentifyCount(), 0u);
}

TEST_F(ScrambledReportTest, ClosedHandleIsAFalseResult)
{
    const auto inverse = Inverse(ScrambleTable);
    ScrambledReport report = {};
    report[3] = 0xB4;
    EXPECT_FALSE(SendScrambledReport(report, inverse.data()));
    EXPECT_EQ(device->reportsSeen, 0u);
}

TEST_F(ScrambledReportTest, StalledReportRunsOutOfTime)
{
    OpenTransferHandle();
    device->faults.stallReport = 1;
    const auto inverse = Inverse(ScrambleTable);
    ScrambledReport report = {};
    report[3] = 0xB4;
    EXPECT_FALSE(SendScrambledReport(report, inverse.data()));
}

}  // namespace
