// Protocol 1's report framing: header, checksum, substitution and the device's view of them.
#include <algorithm>
#include <array>
#include <numeric>

#include "protocol/protocol1_reports.h"
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

// The byte sum of a plain report's bytes but its checksum, as a receiver checks it.
std::uint8_t SumOfTheOtherBytes(const std::uint8_t* plain)
{
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < protocol1::kReportSize; ++i) sum = static_cast<std::uint8_t>(sum + plain[i]);
    return static_cast<std::uint8_t>(sum - protocol1::ReadChecksum(plain));
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

// The plain fields in their order: report id, header, command, address high byte first, size,
// checksum, then the data.
TEST(Protocol1ReportTest, ProgramReportLaysOutItsFieldsInOrder)
{
    ScrambledReport report = {};
    const std::uint8_t data[3] = {0x5A, 0x5B, 0x5C};
    protocol1::PutProgram(report, 0x7FE0, data, 3);
    protocol1::Seal(report);
    // 0x03 + 0xB5 + 0x38 + 0x79 + 0x7F + 0xE0 + 0x03 + 0x5A + 0x5B + 0x5C = 0x3DC
    std::vector<std::uint8_t> expected = {0x03, 0xB5, 0x38, 0x79, 0x7F, 0xE0, 0x03, 0xDC, 0x5A, 0x5B, 0x5C};
    expected.resize(64, 0x00);
    EXPECT_EQ(std::vector<std::uint8_t>(std::begin(report), std::end(report)), expected);
}

class ScrambledReportTest : public Protocol1World {};

TEST_F(ScrambledReportTest, IdentifyReportHasTheFixedPlainBytes)
{
    OpenTransferHandle();
    const auto inverse = Inverse(ScrambleTable);
    ScrambledReport report = {};
    protocol1::PutIdentify(report);
    ASSERT_TRUE(SendScrambledReport(report, inverse.data()));

    const auto sent = SentReports();
    ASSERT_EQ(sent.size(), 1u);
    std::vector<std::uint8_t> expected = {0x03, 0xB5, 0x38, 0xB4, 0x00, 0x00, 0x00, 0xA4};
    expected.resize(64, 0x00);
    // The trace shows the plain bytes as the device recovers them from the wire.
    EXPECT_EQ(sent[0].plain, expected);
    // On the wire the report id stays, and every byte after it is substituted.
    std::vector<std::uint8_t> expectedWire;
    for (std::uint8_t byte : expected) expectedWire.push_back(inverse[byte]);
    expectedWire.front() = 0x03;
    EXPECT_EQ(sent[0].wire, expectedWire);
    EXPECT_NE(sent[0].wire, sent[0].plain);
    // The caller's buffer now holds what went on the wire.
    EXPECT_EQ(std::vector<std::uint8_t>(std::begin(report), std::end(report)), sent[0].wire);
    EXPECT_EQ(device->IdentifyCount(), 1u);
    EXPECT_TRUE(device->protocolErrors.empty());
}

TEST_F(ScrambledReportTest, ChecksumWrapsModulo256AndTheDeviceAgrees)
{
    OpenTransferHandle();
    const auto inverse = Inverse(ScrambleTable);
    ScrambledReport report = {};
    protocol1::PutCommand(report, 0x8A, 0x0A00, 0x01);
    ASSERT_TRUE(SendScrambledReport(report, inverse.data()));

    // A program report of a blank chunk whose padding is blank too: 56 bytes of 0xFF.
    std::fill(std::begin(report), std::end(report), 0xFF);
    protocol1::PutCommand(report, 0x79, 0x0A00, 0x20);
    ASSERT_TRUE(SendScrambledReport(report, inverse.data()));

    const auto sent = SentReports();
    ASSERT_EQ(sent.size(), 2u);
    const unsigned dataSum = (56u * 0xFF) % 256;
    EXPECT_EQ(dataSum, 0xC8u);
    const unsigned expected = (0x03 + 0xB5 + 0x38 + 0x79 + 0x0A + 0x00 + 0x20 + dataSum) % 256;
    EXPECT_EQ(protocol1::ReadChecksum(sent[1].plain.data()), expected);
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
    protocol1::PutCommand(report, 0x03, 0, 0);
    protocol1::DataField(report)[0] = 0x03;
    SendScrambledReport(report, inverse.data());
    EXPECT_EQ(report[0], 0x03);
    EXPECT_EQ(protocol1::ReadCommand(report), 0x40);
    EXPECT_EQ(protocol1::DataField(report)[0], 0x40);
}

TEST_F(ScrambledReportTest, IdentityTableSendsThePlainForm)
{
    OpenTransferHandle();
    const auto table = IdentityTable();
    const auto inverse = Inverse(table.data());
    ScrambledReport report = {};
    protocol1::PutCommand(report, 0x12, 0x3400, 0x00);
    std::uint8_t* data = protocol1::DataField(report);
    for (std::size_t i = 0; i < 56; ++i) data[i] = static_cast<std::uint8_t>(i * 5);
    SendScrambledReport(report, inverse.data());

    EXPECT_EQ(report[0], 0x03);
    EXPECT_EQ(protocol1::ReadHeader(report), 0xB5);
    EXPECT_EQ(protocol1::ReadDataFieldSize(report), 0x38);
    EXPECT_EQ(protocol1::ReadChecksum(report), SumOfTheOtherBytes(report));
    EXPECT_EQ(data[55], static_cast<std::uint8_t>(55 * 5));
}

TEST_F(ScrambledReportTest, ReceiverRecoversTheChecksumFromTheOtherBytes)
{
    OpenTransferHandle();
    const auto inverse = Inverse(ScrambleTable);
    ScrambledReport report = {};
    protocol1::PutCommand(report, 0x79, 0x55AA, 0x09);
    std::uint8_t* data = protocol1::DataField(report);
    for (std::size_t i = 0; i < 56; ++i) data[i] = static_cast<std::uint8_t>(0xC0 + i);
    SendScrambledReport(report, inverse.data());

    std::uint8_t recovered[64];
    for (int i = 0; i < 64; ++i) recovered[i] = i == 0 ? report[0] : ScrambleTable[report[i]];
    EXPECT_EQ(protocol1::ReadChecksum(recovered), SumOfTheOtherBytes(recovered));
    EXPECT_EQ(protocol1::ReadAddress(recovered), 0x55AAu);
    EXPECT_EQ(protocol1::DataField(recovered)[55], static_cast<std::uint8_t>(0xC0 + 55));
}

TEST_F(ScrambledReportTest, ResendingWithoutRewritingSubstitutesTwice)
{
    OpenTransferHandle();
    const auto inverse = Inverse(ScrambleTable);
    ScrambledReport report = {};
    protocol1::PutIdentify(report);
    SendScrambledReport(report, inverse.data());
    SendScrambledReport(report, inverse.data());
    const auto sent = SentReports();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].Command(), inverse[0xB4]);
    EXPECT_EQ(sent[1].Data()[0], inverse[0x00]);
    // The header is rewritten every time.
    EXPECT_EQ(protocol1::ReadHeader(sent[1].plain.data()), 0xB5);
    EXPECT_EQ(protocol1::ReadDataFieldSize(sent[1].plain.data()), 0x38);
}

TEST_F(ScrambledReportTest, RefusedReportIsAFalseResult)
{
    OpenTransferHandle();
    device->faults.refuseReport = 1;
    const auto inverse = Inverse(ScrambleTable);
    ScrambledReport report = {};
    protocol1::PutIdentify(report);
    EXPECT_FALSE(SendScrambledReport(report, inverse.data()));
    EXPECT_EQ(device->IdentifyCount(), 0u);
}

TEST_F(ScrambledReportTest, ClosedHandleIsAFalseResult)
{
    const auto inverse = Inverse(ScrambleTable);
    ScrambledReport report = {};
    protocol1::PutIdentify(report);
    EXPECT_FALSE(SendScrambledReport(report, inverse.data()));
    EXPECT_EQ(device->reportsSeen, 0u);
}

TEST_F(ScrambledReportTest, StalledReportRunsOutOfTime)
{
    OpenTransferHandle();
    device->faults.stallReport = 1;
    const auto inverse = Inverse(ScrambleTable);
    ScrambledReport report = {};
    protocol1::PutIdentify(report);
    EXPECT_FALSE(SendScrambledReport(report, inverse.data()));
}

}  // namespace
