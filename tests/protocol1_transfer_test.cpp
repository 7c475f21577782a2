// Protocol 1's transfer: erase pass, trim, rotated program pass, finish, and the bar.
#include <algorithm>

#include "protocol/scrambled_report.h"
#include "protocol/transfers.h"
#include "tests/protocol1_test_world.h"

namespace {

using namespace protocol1_test;

constexpr std::uint8_t kErase = 0x8A;
constexpr std::uint8_t kProgram = 0x79;
constexpr std::uint8_t kFinish = 0xA4;

class Protocol1TransferTest : public Protocol1World {
protected:
    void SetUp() override
    {
        Protocol1World::SetUp();
        OpenTransferHandle();
    }

    std::int32_t Run(const std::vector<std::uint8_t>& image, std::uint32_t length)
    {
        return RunProtocol1Transfer(image.data(), length, ScrambleTable, Bar());
    }

    // The number of chunks for data that ends (exclusive) at dataEnd.
    static std::uint32_t ChunkCount(std::uint32_t dataEnd) { return (dataEnd - kRegionStart + 31) / 32; }
};

// After a run: every 32-byte chunk below dataEnd that holds a non-blank byte was programmed
// exactly once, blank chunks never; the region holds the image up to dataEnd and 0xFF above.
void ExpectProgrammed(const models::Protocol1Device& device, const std::vector<std::uint8_t>& image,
                      std::uint32_t dataEnd, std::uint32_t regionEnd)
{
    const auto flash = device.Flash();
    for (std::uint32_t a = 0; a < kRegionStart; ++a) {
        ASSERT_EQ(flash[a], models::Protocol1Device::OldContent(a)) << "boot loader byte " << a;
    }
    for (std::uint32_t a = kRegionStart; a < regionEnd; ++a) {
        const std::uint8_t expected = a < dataEnd ? image[a] : 0xFF;
        ASSERT_EQ(flash[a], expected) << "flash byte " << a;
    }
    for (std::uint32_t chunk = kRegionStart; chunk < dataEnd; chunk += 32) {
        const std::uint32_t end = std::min(chunk + 32, dataEnd);
        const bool blank = std::all_of(image.begin() + chunk, image.begin() + end,
                                       [](std::uint8_t b) { return b == 0xFF; });
        ASSERT_EQ(device.ProgramCount(chunk), blank ? 0u : 1u) << "chunk " << chunk;
    }
}

TEST_F(Protocol1TransferTest, FullImageErasesProgramsAndFinishes)
{
    auto image = VariedImage();
    Blank(image, 0x0A00, 32);           // first chunk
    Blank(image, 0x1000, 96);           // a run of three chunks
    Blank(image, 0x5200, 512);          // a whole block
    Blank(image, 0x3000, 31);           // blank but for its last byte: still sent
    image[32767] = 0xC3;                // never sent
    sim::SetFixedTickCount(123456789);

    ASSERT_EQ(Run(image, kFullLength), 1);

    const auto sent = SentReports();
    const auto erases = ReportsOf(sent, kErase);
    const auto programs = ReportsOf(sent, kProgram);
    const auto finishes = ReportsOf(sent, kFinish);
    ASSERT_EQ(erases.size(), 59u);
    ASSERT_EQ(finishes.size(), 1u);
    EXPECT_EQ(sent.size(), erases.size() + programs.size() + 1);
    EXPECT_EQ(programs.size(), 944u - 1 - 3 - 16);
    for (const auto& report : sent) EXPECT_TRUE(report.accepted);
    EXPECT_EQ(sent.back().Command(), kFinish);

    EXPECT_TRUE(device->protocolErrors.empty()) << device->protocolErrors.front();
    EXPECT_TRUE(device->DownloadComplete());
    ExpectProgrammed(*device, image, 32767, 0x8000);
    EXPECT_EQ(device->ProgramCount(0x3000), 1u);
    EXPECT_EQ(device->Flash()[32767], 0xFF);
}

TEST_F(Protocol1TransferTest, EraseReportsWalkTheRegionBlockByBlock)
{
    const auto image = VariedImage();
    ASSERT_EQ(Run(image, kFullLength), 1);
    const auto erases = ReportsOf(SentReports(), kErase);
    ASSERT_EQ(erases.size(), 59u);
    for (std::size_t k = 0; k < erases.size(); ++k) {
        EXPECT_EQ(erases[k].Address(), 0x0A00 + 0x200 * k);
        EXPECT_EQ(erases[k].Size(), 0x01);
    }
    EXPECT_EQ(erases.back().Address(), 0x7E00u);
    for (std::uint32_t block = 0x0A00; block < 0x8000; block += 0x200) EXPECT_EQ(device->EraseCount(block), 1u);
    EXPECT_EQ(device->EraseCount(0x0800), 0u);
}

TEST_F(Protocol1TransferTest, ProgressFollowsBothPassesOnTheirOwnRanges)
{
    const auto image = VariedImage();
    // The program pass starts at chunk 300 of 944: its progress counts the chunks sent, not
    // their numbers.
    sim::SetFixedTickCount(944 * 5 + 300);
    ASSERT_EQ(Run(image, kFullLength), 1);

    const auto view = sim::Dialog();
    ASSERT_EQ(view.progress.size(), 59u + 944u);
    const std::vector<std::int32_t> eraseStart(view.progress.begin(), view.progress.begin() + 6);
    EXPECT_EQ(eraseStart, (std::vector<std::int32_t>{0, 1, 3, 5, 6, 8}));
    for (std::uint32_t k = 0; k < 59; ++k) EXPECT_EQ(view.progress[k], static_cast<std::int32_t>(100 * k / 59));
    EXPECT_EQ(view.progress[58], 98);
    for (std::uint32_t k = 0; k < 944; ++k) EXPECT_EQ(view.progress[59 + k], static_cast<std::int32_t>(k));

    EXPECT_EQ(view.barLow, 0);
    EXPECT_EQ(view.barHigh, 944);
    EXPECT_EQ(view.barPos, 943);
    EXPECT_TRUE(view.barVisible);

    const auto ranges = sim::TraceEvents("bar-range");
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ(ranges[0], "bar-range 0 100");
    EXPECT_EQ(ranges[1], "bar-range 0 944");
    const auto positions = sim::TraceEvents("bar-pos");
    ASSERT_EQ(positions.size(), 2u);
    EXPECT_EQ(positions[0], "bar-pos 1");
    EXPECT_EQ(positions[1], "bar-pos 0");
    EXPECT_EQ(sim::TraceEvents("bar-show").size(), 2u);
}

TEST_F(Protocol1TransferTest, BarIsSetUpBeforeTheFirstEraseAndProgressFollowsIt)
{
    const auto image = VariedImage();
    ASSERT_EQ(Run(image, kFullLength), 1);
    const auto lines = sim::TraceLines();
    std::vector<std::string> events;
    for (const auto& line : lines) {
        const std::string event = line.substr(0, line.find(' '));
        if (event == "set-output" || event == "progress" || event.rfind("bar-", 0) == 0) events.push_back(line);
    }
    ASSERT_GE(events.size(), 6u);
    EXPECT_EQ(events[0], "bar-show");
    EXPECT_EQ(events[1], "bar-range 0 100");
    EXPECT_EQ(events[2], "bar-pos 1");
    EXPECT_EQ(events[3].rfind("set-output ok", 0), 0u);
    EXPECT_EQ(events[4], "progress 0");
}

TEST_F(Protocol1TransferTest, LastByteOfTheImageIsNeverSent)
{
    auto image = VariedImage();
    image[32766] = 0x5A;
    image[32767] = 0xC3;
    sim::SetFixedTickCount(7);
    ASSERT_EQ(Run(image, kFullLength), 1);

    const auto programs = ReportsOf(SentReports(), kProgram);
    ASSERT_EQ(programs.size(), 944u);
    std::uint32_t top = 0;
    for (const auto& report : programs) {
        top = std::max(top, report.Address() + report.Size());
        if (report.Address() == 0x7FE0) {
            EXPECT_EQ(report.Size(), 0x1F);
            EXPECT_EQ(report.Data()[30], 0x5A);
        } else {
            EXPECT_EQ(report.Size(), 0x20);
        }
    }
    EXPECT_EQ(top, 32767u);
    EXPECT_EQ(device->Flash()[32767], 0xFF);
    EXPECT_EQ(device->Flash()[32766], 0x5A);
}

TEST_F(Protocol1TransferTest, TrailingBlankBytesAreTrimmed)
{
    auto image = VariedImage();
    Blank(image, 0x6003, kFullLength - 0x6003);
    image[32767] = 0x11;  // the last byte does not count
    ASSERT_EQ(Run(image, kFullLength), 1);

    // Data ends at 0x6003: chunks up to 0x6000, the last one of 3 bytes.
    const std::uint32_t chunks = ChunkCount(0x6003);
    EXPECT_EQ(chunks, 689u);
    const auto programs = ReportsOf(SentReports(), kProgram);
    ASSERT_EQ(programs.size(), chunks);
    for (const auto& report : programs) {
        EXPECT_EQ(report.Size(), report.Address() == 0x6000 ? 3 : 32);
    }
    EXPECT_EQ(sim::Dialog().barHigh, static_cast<std::int32_t>(chunks));
    EXPECT_TRUE(device->DownloadComplete());
    ExpectProgrammed(*device, image, 0x6003, 0x8000);
}

TEST_F(Protocol1TransferTest, SpanThatIsAMultipleOf32EndsWithAWholeChunk)
{
    auto image = VariedImage();
    Blank(image, 0x6000, kFullLength - 0x6000);
    ASSERT_EQ(Run(image, kFullLength), 1);
    const auto programs = ReportsOf(SentReports(), kProgram);
    ASSERT_EQ(programs.size(), ChunkCount(0x6000));
    for (const auto& report : programs) EXPECT_EQ(report.Size(), 0x20);
    ExpectProgrammed(*device, image, 0x6000, 0x8000);
}

std::vector<std::uint32_t> ProgramOrder(const std::vector<SentReport>& sent)
{
    std::vector<std::uint32_t> order;
    for (const auto& report : ReportsOf(sent, kProgram)) order.push_back((report.Address() - kRegionStart) / 32);
    return order;
}

TEST_F(Protocol1TransferTest, StartIndexZeroGivesTheAscendingOrder)
{
    const auto image = VariedImage();
    sim::SetFixedTickCount(944 * 3);  // a multiple of M
    ASSERT_EQ(Run(image, kFullLength), 1);
    const auto order = ProgramOrder(SentReports());
    ASSERT_EQ(order.size(), 944u);
    for (std::uint32_t k = 0; k < 944; ++k) EXPECT_EQ(order[k], k);
}

TEST_F(Protocol1TransferTest, LastStartIndexGivesTheDescendingOrder)
{
    const auto image = VariedImage();
    sim::SetFixedTickCount(943);
    ASSERT_EQ(Run(image, kFullLength), 1);
    const auto order = ProgramOrder(SentReports());
    ASSERT_EQ(order.size(), 944u);
    for (std::uint32_t k = 0; k < 944; ++k) EXPECT_EQ(order[k], 943 - k);
    EXPECT_TRUE(device->DownloadComplete());
}

TEST_F(Protocol1TransferTest, OrderRisesFromTheStartThenFallsBelowIt)
{
    const auto image = VariedImage();
    const std::uint32_t ticks = 0xFFFFFFF0u;  // near the wrap of the tick count
    const std::uint32_t start = ticks % 944;
    sim::SetFixedTickCount(ticks);
    ASSERT_EQ(Run(image, kFullLength), 1);
    const auto order = ProgramOrder(SentReports());
    ASSERT_EQ(order.size(), 944u);
    std::vector<std::uint32_t> expected;
    for (std::uint32_t i = start; i < 944; ++i) expected.push_back(i);
    for (std::uint32_t i = start; i > 0; --i) expected.push_back(i - 1);
    EXPECT_EQ(order, expected);
    ExpectProgrammed(*device, image, 32767, 0x8000);
}

TEST_F(Protocol1TransferTest, BlankChunkSendsNoReportButItsProgress)
{
    auto image = VariedImage();
    Blank(image, kRegionStart + 5 * 32, 32);
    sim::SetFixedTickCount(0);
    ASSERT_EQ(Run(image, kFullLength), 1);

    const auto order = ProgramOrder(SentReports());
    ASSERT_EQ(order.size(), 943u);
    EXPECT_EQ(std::count(order.begin(), order.end(), 5u), 0);
    EXPECT_EQ(order[4], 4u);
    EXPECT_EQ(order[5], 6u);
    const auto progress = sim::Dialog().progress;
    ASSERT_EQ(progress.size(), 59u + 944u);
    EXPECT_EQ(progress[59 + 5], 5);
    EXPECT_EQ(device->ProgramCount(kRegionStart + 5 * 32), 0u);
    ExpectProgrammed(*device, image, 32767, 0x8000);
}

TEST_F(Protocol1TransferTest, PaddingCarriesWhatEarlierReportsLeft)
{
    const auto image = VariedImage();
    sim::SetFixedTickCount(0);
    ASSERT_EQ(Run(image, kFullLength), 1);
    const auto sent = SentReports();
    ASSERT_GE(sent.size(), 61u);
    // The first report's padding (its whole data field) was zero; each later erase report
    // carries the previous report's wire bytes as its padding.
    const std::size_t dataBytes = protocol1::kDataField.size;
    for (std::size_t i = 0; i < dataBytes; ++i) EXPECT_EQ(sent[0].Data()[i], 0x00);
    for (std::size_t i = 0; i < dataBytes; ++i) EXPECT_EQ(sent[1].Data()[i], sent[0].WireData()[i]);
    // The first program report's 32 data bytes are the image, its padding the last erase's wire.
    const auto& firstProgram = sent[59];
    ASSERT_EQ(firstProgram.Command(), kProgram);
    for (std::size_t i = 0; i < 32; ++i) EXPECT_EQ(firstProgram.Data()[i], image[kRegionStart + i]);
    for (std::size_t i = 32; i < dataBytes; ++i) EXPECT_EQ(firstProgram.Data()[i], sent[58].WireData()[i]);
}

TEST_F(Protocol1TransferTest, RefusedEraseStopsEverything)
{
    const auto image = VariedImage();
    const std::uint32_t k = 4;
    device->faults.refuseReport = k + 1;
    EXPECT_EQ(Run(image, kFullLength), 0);

    const auto sent = SentReports();
    ASSERT_EQ(sent.size(), k + 1);
    EXPECT_FALSE(sent.back().accepted);
    EXPECT_TRUE(ReportsOf(sent, kProgram).empty());
    EXPECT_TRUE(ReportsOf(sent, kFinish).empty());
    const auto view = sim::Dialog();
    ASSERT_EQ(view.progress.size(), k);
    EXPECT_EQ(view.progress.back(), static_cast<std::int32_t>(100 * (k - 1) / 59));
    EXPECT_EQ(view.barHigh, 100);
    EXPECT_EQ(device->EraseCount(0x0A00 + 0x200 * k), 0u);
    EXPECT_EQ(device->FinishCount(), 0u);
    EXPECT_FALSE(device->DownloadComplete());
}

TEST_F(Protocol1TransferTest, RefusedFirstEraseSendsNoProgress)
{
    const auto image = VariedImage();
    device->faults.refuseReport = 1;
    EXPECT_EQ(Run(image, kFullLength), 0);
    EXPECT_EQ(SentReports().size(), 1u);
    EXPECT_TRUE(sim::Dialog().progress.empty());
}

TEST_F(Protocol1TransferTest, RefusedProgramReportStopsWithoutFinish)
{
    const auto image = VariedImage();
    sim::SetFixedTickCount(0);
    device->faults.refuseReport = 59 + 10 + 1;  // the eleventh chunk
    EXPECT_EQ(Run(image, kFullLength), 0);
    const auto sent = SentReports();
    EXPECT_EQ(sent.size(), 59u + 11u);
    EXPECT_TRUE(ReportsOf(sent, kFinish).empty());
    EXPECT_EQ(sim::Dialog().progress.size(), 59u + 10u);
    EXPECT_EQ(device->FinishCount(), 0u);
}

TEST_F(Protocol1TransferTest, DeviceThatStopsAnsweringFailsTheTransfer)
{
    const auto image = VariedImage();
    device->faults.stallReport = 30;
    EXPECT_EQ(Run(image, kFullLength), 0);
    EXPECT_EQ(device->FinishCount(), 0u);
    EXPECT_EQ(sim::Dialog().progress.size(), 29u);
}

TEST_F(Protocol1TransferTest, RefusedFinishIsAFailure)
{
    const auto image = VariedImage();
    device->faults.refuseReport = 59 + 944 + 1;
    EXPECT_EQ(Run(image, kFullLength), 0);
    EXPECT_EQ(device->FinishCount(), 0u);
    EXPECT_EQ(sim::Dialog().progress.size(), 59u + 944u);
}

TEST_F(Protocol1TransferTest, UnplugDuringTheProgramPassFails)
{
    const auto image = VariedImage();
    device->faults.removeAfterReports = 100;
    EXPECT_EQ(Run(image, kFullLength), 0);
    EXPECT_EQ(device->FinishCount(), 0u);
}

TEST_F(Protocol1TransferTest, BlankImageSendsOnlyErasesAndFinish)
{
    std::vector<std::uint8_t> image(kFullLength, 0xFF);
    for (std::uint32_t a = 0; a <= kRegionStart; ++a) image[a] = 0x00;  // 0x0A00 itself is not examined
    image[32767] = 0x00;
    ASSERT_EQ(Run(image, kFullLength), 1);

    const auto sent = SentReports();
    EXPECT_EQ(ReportsOf(sent, kErase).size(), 59u);
    EXPECT_TRUE(ReportsOf(sent, kProgram).empty());
    ASSERT_EQ(sent.size(), 60u);
    EXPECT_EQ(sent.back().Command(), kFinish);
    EXPECT_EQ(sent.back().Address(), 0x0A00u);
    EXPECT_EQ(sent.back().Size(), 0x00);
    const auto view = sim::Dialog();
    EXPECT_EQ(view.progress.size(), 59u);
    EXPECT_EQ(view.barLow, 0);
    EXPECT_EQ(view.barHigh, 0);
    EXPECT_TRUE(device->DownloadComplete());
    ExpectProgrammed(*device, image, kRegionStart, 0x8000);
}

TEST_F(Protocol1TransferTest, ShortLength0x1000)
{
    auto image = VariedImage();
    image[0x0FFE] = 0xFF;  // trim starts here
    image[0x0FFF] = 0x42;  // never examined
    Blank(image, 0x0FE0, 30);
    ASSERT_EQ(Run(image, 0x1000), 1);

    const auto sent = SentReports();
    const auto erases = ReportsOf(sent, kErase);
    ASSERT_EQ(erases.size(), 3u);
    EXPECT_EQ(erases[0].Address(), 0x0A00u);
    EXPECT_EQ(erases[1].Address(), 0x0C00u);
    EXPECT_EQ(erases[2].Address(), 0x0E00u);
    // Data ends after 0x0FDF: 47 whole chunks.
    const auto programs = ReportsOf(sent, kProgram);
    EXPECT_EQ(programs.size(), ChunkCount(0x0FE0));
    for (const auto& report : programs) EXPECT_LT(report.Address(), 0x0FE0u);
    EXPECT_EQ(ReportsOf(sent, kFinish).size(), 1u);
    EXPECT_EQ(device->EraseCount(0x1000), 0u);
    ExpectProgrammed(*device, image, 0x0FE0, 0x1000);
    // The rest of the flash still holds the old application; the device knows it is not whole.
    EXPECT_EQ(device->Flash()[0x1000], models::Protocol1Device::OldContent(0x1000));
    EXPECT_FALSE(device->DownloadComplete());
}

TEST_F(Protocol1TransferTest, ShortLength0x0B01EraseOneBlock)
{
    auto image = VariedImage();
    ASSERT_EQ(Run(image, 0x0B01), 1);
    const auto sent = SentReports();
    ASSERT_EQ(ReportsOf(sent, kErase).size(), 1u);
    // The trim starts at 0x0AFF, so the data runs up to 0x0B00: eight whole chunks.
    const auto programs = ReportsOf(sent, kProgram);
    ASSERT_EQ(programs.size(), 8u);
    for (const auto& report : programs) EXPECT_EQ(report.Size(), 32);
    ExpectProgrammed(*device, image, 0x0B00, 0x0C00);
}

TEST_F(Protocol1TransferTest, LengthsThatLeaveNoRegionFailWithoutTraffic)
{
    const auto image = VariedImage();
    for (std::uint32_t length : {0u, 1u, 0x09FFu, 0x0A00u, 0x0A01u}) {
        EXPECT_EQ(Run(image, length), 0) << length;
    }
    EXPECT_TRUE(SentReports().empty());
    EXPECT_EQ(device->reportsSeen, 0u);
    const auto view = sim::Dialog();
    EXPECT_TRUE(view.progress.empty());
    EXPECT_EQ(view.barHigh, 10000);
    EXPECT_TRUE(sim::TraceEvents("bar-range").empty());
}

TEST_F(Protocol1TransferTest, ShortestWorkableLengthErasesOneBlockAndFinishes)
{
    const auto image = VariedImage();
    ASSERT_EQ(Run(image, 0x0A02), 1);
    const auto sent = SentReports();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].Command(), kErase);
    EXPECT_EQ(sent[1].Command(), kFinish);
}

TEST_F(Protocol1TransferTest, NullImageOrTableFailsWithoutTraffic)
{
    const auto image = VariedImage();
    EXPECT_EQ(RunProtocol1Transfer(nullptr, kFullLength, ScrambleTable, Bar()), 0);
    EXPECT_EQ(RunProtocol1Transfer(image.data(), kFullLength, nullptr, Bar()), 0);
    EXPECT_TRUE(SentReports().empty());
    EXPECT_TRUE(sim::TraceEvents("bar-show").empty());
}

TEST_F(Protocol1TransferTest, RunsWithoutABar)
{
    const auto image = VariedImage();
    ASSERT_EQ(RunProtocol1Transfer(image.data(), kFullLength, ScrambleTable, nullptr), 1);
    EXPECT_TRUE(device->DownloadComplete());
    EXPECT_TRUE(sim::TraceEvents("bar-range").empty());
    EXPECT_TRUE(sim::TraceEvents("bar-show").empty());
    EXPECT_TRUE(sim::Dialog().progress.empty());
}

TEST_F(Protocol1TransferTest, LengthAboveTheLimitIsClamped)
{
    auto image = VariedImage();
    image.resize(0x9000, 0x00);
    ASSERT_EQ(RunProtocol1Transfer(image.data(), 0x9000, ScrambleTable, Bar()), 1);
    EXPECT_EQ(ReportsOf(SentReports(), kErase).size(), 59u);
    EXPECT_EQ(ReportsOf(SentReports(), kProgram).size(), 944u);
    EXPECT_TRUE(device->DownloadComplete());
}

}  // namespace
