// The protocol-3 transfer against the device model that checks every report and answers each.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "state/download_state.h"
#include "app/worker.h"
#include "device/device_link.h"
#include "image/firmware_buffer.h"
#include "platform/hid.h"
#include "protocol/protocol3_reports.h"
#include "protocol/transfers.h"
#include "sim/hid_bus.h"
#include "models/protocol3_device.h"
#include "sim/trace.h"
#include "sim/world.h"
#include "tests/test_world.h"
#include "codec/hex_text.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct TracedOperation {
    std::string event;   // write or read
    std::string status;  // ok, fail or timeout
    Bytes bytes;
};


// Every write and read on the transfer handle, in order.
std::vector<TracedOperation> Traffic()
{
    std::vector<TracedOperation> traffic;
    for (const std::string& line : sim::TraceLines()) {
        const std::size_t first = line.find(' ');
        const std::string event = line.substr(0, first);
        if (event != "write" && event != "read") continue;
        const std::size_t second = line.find(' ', first + 1);
        traffic.push_back({event, line.substr(first + 1, second - first - 1), codec::FromHex(line.substr(second + 1))});
    }
    return traffic;
}

std::vector<TracedOperation> Writes()
{
    std::vector<TracedOperation> writes;
    for (auto& operation : Traffic())
        if (operation.event == "write") writes.push_back(operation);
    return writes;
}

Bytes Slice(const Bytes& bytes, std::size_t first, std::size_t count)
{
    return Bytes(bytes.begin() + first, bytes.begin() + first + count);
}

Bytes Join(Bytes head, const Bytes& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// The first count bytes of a report.
Bytes Head(const Bytes& report, std::size_t count) { return Slice(report, 0, count); }

// A 65-byte report as it goes on the wire: these pieces one after the other, then 0.
Bytes Report(std::initializer_list<Bytes> pieces)
{
    Bytes report;
    for (const Bytes& piece : pieces) report = Join(report, piece);
    report.resize(65, 0x00);
    return report;
}

Bytes Little24(std::uint32_t value)
{
    return {std::uint8_t(value), std::uint8_t(value >> 8), std::uint8_t(value >> 16)};
}

// The 58-byte data field of a block report.
Bytes BlockData(const Bytes& report)
{
    const std::uint8_t* data = protocol3::BlockData(report.data());
    return Bytes(data, data + protocol3::kBlockSize);
}

Bytes ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t ByteSum(const Bytes& bytes, std::size_t first = 0, std::size_t count = SIZE_MAX)
{
    const std::size_t end = std::min(bytes.size(), count == SIZE_MAX ? bytes.size() : first + count);
    return std::accumulate(bytes.begin() + first, bytes.begin() + end, std::uint32_t{0});
}

// A patterned image whose blocks differ from one another.
Bytes Pattern(std::size_t length)
{
    Bytes image(length);
    for (std::size_t i = 0; i < length; ++i) image[i] = static_cast<std::uint8_t>(i * 7 + i / 58 + 3);
    return image;
}

class Protocol3Test : public WorldTest {
protected:
    void SetUp() override
    {
        WorldTest::SetUp();
        Plug(std::make_shared<models::Protocol3Device>());
    }

    void Plug(std::shared_ptr<models::Protocol3Device> model)
    {
        device = std::move(model);
        sim::Plug(device);
        ASSERT_TRUE(deviceLink->FindProtocol3Device());
        ASSERT_NE(deviceLink->transferHandle, platform::kInvalidHandle);
        sim::TraceOpen();  // the traffic of the download only
    }

    // The image in a zero-filled buffer of whole blocks (or of bufferSize bytes), with the
    // fields a mode-3 load sets. The buffer is owned by firmwareBuffer as a loaded one is.
    void UseImage(const Bytes& image, std::size_t bufferSize = 0)
    {
        const std::uint32_t blocks = static_cast<std::uint32_t>((image.size() + 57) / 58);
        const std::size_t size = bufferSize ? bufferSize : std::max<std::size_t>(blocks * 58, 1);
        ReleaseFirmwareBuffer();
        firmwareBuffer.data = new std::uint8_t[size]();
        firmwareBuffer.size = size;
        std::copy_n(image.begin(), std::min(image.size(), size), firmwareBuffer.data);
        firmwareBuffer.imageLength = static_cast<std::uint32_t>(image.size());
        firmwareBuffer.blockCount = blocks;
        firmwareBuffer.runningTotal = 0;
    }

    std::shared_ptr<models::Protocol3Device> device;
};

TEST_F(Protocol3Test, OneFullBlock)
{
    const Bytes image = Pattern(58);
    UseImage(image);

    EXPECT_TRUE(DownloadProtocol3(sim::kDialogWindow));

    // Input reports queued before the download are dropped before the begin report.
    EXPECT_EQ(sim::TraceLines().at(0), "flush ok");
    const auto writes = Writes();
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(Head(writes[0].bytes, 8), (Bytes{0x00, 0xBA, 0xC0, 0x01, 0x00, 0x3A, 0x00, 0x00}));
    EXPECT_EQ(writes[1].bytes, Report({{0x00, 0xBA, 0xC1, 0x01, 0x00, 0x3A, 0x00}, image}));
    EXPECT_EQ(Head(writes[2].bytes, 5), (Bytes{0x00, 0xBA, 0xC2, 0x02, 0x00}));
    for (const auto& write : writes) EXPECT_EQ(write.bytes.size(), 65u);
    EXPECT_EQ(sim::Dialog().progress, (std::vector<std::int32_t>{0, 10000}));
    EXPECT_TRUE(device->DownloadComplete());
    EXPECT_EQ(device->Flash(), image);
    EXPECT_TRUE(device->protocolErrors.empty());
}

TEST_F(Protocol3Test, ShortLastBlockCarriesZeroFill)
{
    const Bytes image = Pattern(59);
    UseImage(image);

    EXPECT_TRUE(DownloadProtocol3(sim::kDialogWindow));

    // Each report is followed by its reply read before anything else is written.
    const auto traffic = Traffic();
    ASSERT_EQ(traffic.size(), 8u);
    for (std::size_t i = 0; i < traffic.size(); ++i) {
        EXPECT_EQ(traffic[i].event, i % 2 == 0 ? "write" : "read");
        EXPECT_EQ(traffic[i].status, "ok");
    }
    EXPECT_EQ(traffic[1].bytes.size(), 65u);

    const auto writes = Writes();
    ASSERT_EQ(writes.size(), 4u);
    EXPECT_EQ(writes[0].bytes, Report({{0x00, 0xBA, 0xC0, 0x02, 0x00, 0x3B, 0x00, 0x00}}));
    EXPECT_EQ(Head(writes[1].bytes, 7), (Bytes{0x00, 0xBA, 0xC1, 0x01, 0x00, 0x3A, 0x00}));
    EXPECT_EQ(writes[2].bytes, Report({{0x00, 0xBA, 0xC1, 0x02, 0x00, 0x01, 0x00, image[58]}}));
    EXPECT_EQ(writes[3].bytes, Report({{0x00, 0xBA, 0xC2, 0x03, 0x00}, Little24(ByteSum(image)), {0x3B, 0x00, 0x00}}));
    EXPECT_EQ(sim::Dialog().progress, (std::vector<std::int32_t>{0, 5000, 10000}));
    EXPECT_EQ(device->Flash(), image);
    EXPECT_TRUE(device->DownloadComplete());
    EXPECT_TRUE(device->protocolErrors.empty());
    // Every reply was read: nothing is left to answer.
    std::uint8_t reply[protocol3::kReportSize];
    EXPECT_FALSE(device->OnRead(reply, sizeof reply));
}

TEST_F(Protocol3Test, EmptyImageSendsBeginAndEndOnly)
{
    UseImage({});

    EXPECT_TRUE(DownloadProtocol3(sim::kDialogWindow));

    const auto writes = Writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(Head(writes[0].bytes, 8), (Bytes{0x00, 0xBA, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Head(writes[1].bytes, 11), (Bytes{0x00, 0xBA, 0xC2, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(sim::Dialog().progress, (std::vector<std::int32_t>{10000}));
    EXPECT_TRUE(device->DownloadComplete());
}

TEST_F(Protocol3Test, EndReportCarriesTheByteSumOfTheBlocks)
{
    UseImage(Bytes(116, 0x01));

    EXPECT_TRUE(DownloadProtocol3(sim::kDialogWindow));

    const auto writes = Writes();
    ASSERT_EQ(writes.size(), 4u);
    EXPECT_EQ(protocol3::ReadEndTotal(writes[3].bytes.data()), 0x74u);
    EXPECT_EQ(firmwareBuffer.runningTotal, 116u);
    EXPECT_TRUE(device->DownloadComplete());
}

TEST_F(Protocol3Test, BlockOfOnesAndFFsAddsItsByteSum)
{
    UseImage(Bytes(58, 0xFF));

    EXPECT_TRUE(DownloadProtocol3(sim::kDialogWindow));

    EXPECT_EQ(firmwareBuffer.runningTotal, 14790u);
    EXPECT_EQ(Writes()[2].bytes, Report({{0x00, 0xBA, 0xC2, 0x02, 0x00, 0xC6, 0x39, 0x00, 0x3A, 0x00, 0x00}}));
}

TEST_F(Protocol3Test, RefusedBlockFiveStillSendsTheEndReportAtOnce)
{
    const Bytes image = Pattern(58 * 10);
    UseImage(image);
    device->faults.refuseReport = 6;  // begin, blocks 1 to 4, then block 5

    EXPECT_FALSE(DownloadProtocol3(sim::kDialogWindow));

    const auto traffic = Traffic();
    // begin + reply, 4 × (block + reply), block 5 (refused, no reply read), end + reply
    ASSERT_EQ(traffic.size(), 13u);
    EXPECT_EQ(traffic[10].event, "write");
    EXPECT_EQ(traffic[10].status, "fail");
    EXPECT_EQ(protocol3::ReadBlockNumber(traffic[10].bytes.data()), 5u);
    EXPECT_EQ(traffic[11].event, "write");
    const Bytes& end = traffic[11].bytes;
    EXPECT_EQ(Head(end, 5), (Bytes{0x00, 0xBA, 0xC2, 0x0B, 0x00}));
    const std::uint32_t total = ByteSum(image, 0, 58 * 5);
    EXPECT_EQ(protocol3::ReadEndTotal(end.data()), total);
    EXPECT_EQ(firmwareBuffer.runningTotal, total);
    EXPECT_EQ(traffic[12].event, "read");
    // Positions for blocks 1 to 4 only, then 10000 for the acknowledged end report.
    EXPECT_EQ(sim::Dialog().progress, (std::vector<std::int32_t>{0, 1000, 2000, 3000, 10000}));
    EXPECT_EQ(device->BlocksAccepted(), 4u);
    EXPECT_EQ(device->EndReportsSeen(), 1u);
    EXPECT_FALSE(device->DownloadComplete());
}

TEST_F(Protocol3Test, FailedReplyOfBlockFiveStillSendsTheEndReport)
{
    const Bytes image = Pattern(58 * 10);
    UseImage(image);
    device->faults.failReply = 6;  // begin, blocks 1 to 4, then block 5's reply

    EXPECT_FALSE(DownloadProtocol3(sim::kDialogWindow));

    const auto writes = Writes();
    ASSERT_EQ(writes.size(), 7u);
    EXPECT_EQ(protocol3::ReadCommand(writes[6].bytes.data()), 0xC2);
    EXPECT_EQ(firmwareBuffer.runningTotal, ByteSum(image, 0, 58 * 5));
    EXPECT_EQ(sim::Dialog().progress, (std::vector<std::int32_t>{0, 1000, 2000, 3000, 10000}));
}

TEST_F(Protocol3Test, FailedBlockAndFailedEndGiveNoFinalPosition)
{
    UseImage(Pattern(58 * 10));
    device->faults.removeAfterReports = 5;  // unplugged after block 4, before its reply

    EXPECT_FALSE(DownloadProtocol3(sim::kDialogWindow));

    const auto traffic = Traffic();
    ASSERT_EQ(traffic.size(), 11u);
    EXPECT_EQ(traffic[8].event, "write");
    EXPECT_EQ(traffic[8].status, "ok");
    EXPECT_EQ(traffic[9].event, "read");
    EXPECT_EQ(traffic[9].status, "fail");
    EXPECT_EQ(traffic[10].event, "write");
    EXPECT_EQ(traffic[10].status, "fail");
    EXPECT_EQ(protocol3::ReadCommand(traffic[10].bytes.data()), 0xC2);
    EXPECT_EQ(protocol3::ReadEndCount(traffic[10].bytes.data()), 11u);
    EXPECT_EQ(sim::Dialog().progress, (std::vector<std::int32_t>{0, 1000, 2000}));
}

TEST_F(Protocol3Test, BeginReplyThatNeverComesFailsWithinItsLimit)
{
    UseImage(Pattern(58 * 10));
    device->faults.stallReply = 1;

    const auto begin = std::chrono::steady_clock::now();
    EXPECT_FALSE(DownloadProtocol3(sim::kDialogWindow));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(10));

    const auto traffic = Traffic();
    ASSERT_EQ(traffic.size(), 2u);
    EXPECT_EQ(protocol3::ReadCommand(traffic[0].bytes.data()), 0xC0);
    EXPECT_EQ(traffic[1].event, "read");
    EXPECT_EQ(traffic[1].status, "timeout");
    EXPECT_TRUE(sim::Dialog().progress.empty());
}

TEST_F(Protocol3Test, RefusedBeginSendsNothingMore)
{
    UseImage(Pattern(100));
    device->faults.refuseReport = 1;

    EXPECT_FALSE(DownloadProtocol3(sim::kDialogWindow));

    const auto traffic = Traffic();
    ASSERT_EQ(traffic.size(), 1u);
    EXPECT_EQ(traffic[0].status, "fail");
    EXPECT_TRUE(sim::Dialog().progress.empty());
}

TEST_F(Protocol3Test, StalledBlockWriteThroughTheWorker)
{
    UseImage(Pattern(58 * 10));
    device->faults.stallReport = 3;
    downloadState.mode = 3;

    const auto begin = std::chrono::steady_clock::now();
    StartDownloadWorker(sim::kDialogWindow);
    ASSERT_TRUE(sim::WaitForThreads(20000));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(10));

    const auto writes = Writes();
    ASSERT_EQ(writes.size(), 4u);
    EXPECT_EQ(writes[2].status, "timeout");
    EXPECT_EQ(protocol3::ReadCommand(writes[3].bytes.data()), 0xC2);
    const sim::DialogView dialog = sim::Dialog();
    ASSERT_EQ(dialog.boxes.size(), 1u);
    EXPECT_EQ(dialog.boxes[0].text, "Download Failture!");
    EXPECT_TRUE(dialog.controlsEnabled);
    EXPECT_EQ(dialog.barPos, 0);
}

// Any reply content counts as an acknowledgement.
class ZeroReplyDevice : public models::Protocol3Device {
public:
    bool OnRead(std::uint8_t* buffer, std::size_t length) override
    {
        const bool answered = models::Protocol3Device::OnRead(buffer, length);
        std::fill(buffer, buffer + length, 0x00);
        return answered;
    }
};

TEST_F(Protocol3Test, AllZeroRepliesAreAcknowledgements)
{
    deviceLink->CloseDeviceLink();
    sim::ResetBus();
    Plug(std::make_shared<ZeroReplyDevice>());
    UseImage(Pattern(200));

    EXPECT_TRUE(DownloadProtocol3(sim::kDialogWindow));
    for (const auto& operation : Traffic()) {
        if (operation.event != "read") continue;
        EXPECT_EQ(operation.bytes, Bytes(65, 0x00));
    }
    EXPECT_TRUE(device->DownloadComplete());
}

TEST_F(Protocol3Test, FieldsThatDoNotFitTheBufferSendNothing)
{
    UseImage(Pattern(116));
    firmwareBuffer.blockCount = 3;  // disagrees with the length
    EXPECT_FALSE(DownloadProtocol3(sim::kDialogWindow));

    UseImage(Pattern(116), 115);  // the image runs past the buffer
    EXPECT_FALSE(DownloadProtocol3(sim::kDialogWindow));

    ReleaseFirmwareBuffer();
    firmwareBuffer.imageLength = 58;
    firmwareBuffer.blockCount = 1;
    EXPECT_FALSE(DownloadProtocol3(sim::kDialogWindow));

    EXPECT_TRUE(Traffic().empty());
    EXPECT_TRUE(sim::Dialog().progress.empty());
}

TEST_F(Protocol3Test, ShippedImage)
{
    ASSERT_EQ(1, LoadFirmwareImage(3));
    const Bytes image = ReadFile(std::string(OSKEL_SOURCE_DIR) + "/res/firmware/mode3.bin");
    ASSERT_EQ(image.size(), 195933u);
    ASSERT_EQ(firmwareBuffer.blockCount, 3379u);

    EXPECT_TRUE(DownloadProtocol3(sim::kDialogWindow));

    const auto writes = Writes();
    ASSERT_EQ(writes.size(), 3381u);
    EXPECT_EQ(protocol3::ReadBeginBlockCount(writes[0].bytes.data()), 0x0D33u);
    EXPECT_EQ(protocol3::ReadBeginImageLength(writes[0].bytes.data()), 0x02FD5Du);
    const Bytes& last = writes[3379].bytes;
    EXPECT_EQ(protocol3::ReadBlockNumber(last.data()), 0x0D33u);
    EXPECT_EQ(protocol3::ReadBlockLength(last.data()), 0x0009u);
    EXPECT_EQ(BlockData(last), Join(Slice(image, 195924, 9), Bytes(49, 0x00)));
    const Bytes& end = writes[3380].bytes;
    EXPECT_EQ(protocol3::ReadEndCount(end.data()), 0x0D34u);
    EXPECT_EQ(protocol3::ReadEndImageLength(end.data()), 0x02FD5Du);
    const std::uint32_t sum = ByteSum(image);
    ASSERT_GT(sum, 0xFFFFFFu);  // the total is truncated to 24 bits on the wire
    EXPECT_EQ(protocol3::ReadEndTotal(end.data()), sum & 0xFFFFFFu);
    EXPECT_EQ(firmwareBuffer.runningTotal, sum);

    const std::vector<std::int32_t> progress = sim::Dialog().progress;
    ASSERT_EQ(progress.size(), 3380u);
    EXPECT_EQ(progress[0], 0);
    EXPECT_EQ(progress[1], 2);
    EXPECT_EQ(progress[2], 5);
    EXPECT_EQ(progress[3378], 9997);
    EXPECT_EQ(progress[3379], 10000);

    EXPECT_TRUE(device->DownloadComplete());
    EXPECT_TRUE(device->protocolErrors.empty());
    EXPECT_EQ(device->Flash(), image);
}

// Images loaded from the resources through Start: one whose last block ends exactly on the
// 58-byte grid (no extra block counted), one a byte past it (its last block carries that one
// byte), and two that reach the buffer's end, where the last block's 58-byte window runs past
// the buffer.
TEST_F(Protocol3Test, ImagesUpToTheWholeBufferThroughStart)
{
    for (const std::size_t length :
         {std::size_t{116}, std::size_t{117}, std::size_t{58 * 3707}, kLargeImageBufferSize}) {
        SCOPED_TRACE(length);
        deviceLink->CloseDeviceLink();
        sim::ResetBus();
        Plug(std::make_shared<models::Protocol3Device>());
        const Bytes image = Pattern(length);
        sim::OverrideImageResource(108, &image);
        downloadState.UpdateModeFlag = 1;  // as Start leaves it after finding the controller

        DialogStart(sim::kDialogWindow);
        ASSERT_TRUE(WaitForDownload());

        const std::uint32_t blocks = static_cast<std::uint32_t>((length + 57) / 58);
        EXPECT_EQ(firmwareBuffer.blockCount, blocks);
        const auto writes = Writes();
        ASSERT_EQ(writes.size(), blocks + 2u);
        const Bytes& last = writes[blocks].bytes;
        const std::size_t lastLength = length - 58 * (blocks - 1);
        EXPECT_EQ(protocol3::ReadBlockLength(last.data()), lastLength);
        EXPECT_EQ(BlockData(last), Join(Slice(image, length - lastLength, lastLength), Bytes(58 - lastLength, 0x00)));
        EXPECT_EQ(protocol3::ReadEndCount(writes[blocks + 1].bytes.data()), blocks + 1);
        EXPECT_EQ(BoxTexts().back(), "Download | Download Successful!");
        EXPECT_TRUE(device->DownloadComplete());
        EXPECT_TRUE(device->protocolErrors.empty());
        EXPECT_EQ(device->Flash(), image);
    }
}

TEST_F(Protocol3Test, WorkerReportsASuccessfulDownload)
{
    ASSERT_EQ(1, LoadFirmwareImage(3));
    downloadState.mode = 3;

    StartDownloadWorker(sim::kDialogWindow);
    ASSERT_TRUE(sim::WaitForThreads(60000));

    const sim::DialogView dialog = sim::Dialog();
    ASSERT_EQ(dialog.boxes.size(), 1u);
    EXPECT_EQ(dialog.boxes[0].text, "Download Successful!");
    EXPECT_TRUE(device->DownloadComplete());
}

// The model itself: it must catch what a faulty host would send.
class Protocol3ModelTest : public ::testing::Test {
protected:
    static Bytes Begin(unsigned count, unsigned length)
    {
        Bytes report(protocol3::kReportSize);
        protocol3::PutBegin(report.data(), count, length);
        return report;
    }
    static Bytes Block(unsigned n, unsigned length, std::uint8_t fill)
    {
        Bytes report(protocol3::kReportSize);
        protocol3::PutBlock(report.data(), n, length);
        std::fill_n(protocol3::BlockData(report.data()), length, fill);
        return report;
    }
    static Bytes End(unsigned countField, unsigned total, unsigned length)
    {
        Bytes report(protocol3::kReportSize);
        protocol3::PutEnd(report.data(), countField, total, length);
        return report;
    }
    bool Send(const Bytes& report) { return model.OnWrite(report.data(), report.size()); }

    models::Protocol3Device model;
};

TEST_F(Protocol3ModelTest, RefusesWrongBeginFields)
{
    EXPECT_FALSE(Send(Begin(3, 60)));
    EXPECT_FALSE(Send(Begin(2, 0x50000)));
    EXPECT_FALSE(Send(Block(1, 58, 0)));  // no download begun
    EXPECT_EQ(model.protocolErrors.size(), 3u);
}

TEST_F(Protocol3ModelTest, RefusesGapsRepeatsLengthsAndDirtyFill)
{
    ASSERT_TRUE(Send(Begin(3, 120)));
    EXPECT_FALSE(Send(Block(2, 58, 1)));   // gap
    EXPECT_FALSE(Send(Block(1, 57, 1)));   // wrong length
    ASSERT_TRUE(Send(Block(1, 58, 1)));
    EXPECT_FALSE(Send(Block(1, 58, 1)));   // repeat
    ASSERT_TRUE(Send(Block(2, 58, 1)));
    Bytes last = Block(3, 4, 1);
    last.back() = 9;
    EXPECT_FALSE(Send(last));              // bytes after the image are not zero
    EXPECT_FALSE(Send(Block(4, 58, 1)));   // beyond the count
    EXPECT_EQ(model.protocolErrors.size(), 5u);
    EXPECT_TRUE(Send(Block(3, 4, 1)));
}

TEST_F(Protocol3ModelTest, RefusesAnEndWithAWrongTotalCountOrLength)
{
    for (const Bytes& end : {End(3, 58, 58), End(2, 59, 58), End(2, 58, 57)}) {
        models::Protocol3Device fresh;
        ASSERT_TRUE(fresh.OnWrite(Begin(1, 58).data(), 65));
        ASSERT_TRUE(fresh.OnWrite(Block(1, 58, 1).data(), 65));
        EXPECT_FALSE(fresh.OnWrite(end.data(), 65));
        EXPECT_FALSE(fresh.DownloadComplete());
        EXPECT_EQ(fresh.protocolErrors.size(), 1u);
    }
}

TEST_F(Protocol3ModelTest, AnswersAnEndWithBlocksMissingButStaysIncomplete)
{
    ASSERT_TRUE(Send(Begin(2, 116)));
    ASSERT_TRUE(Send(Block(1, 58, 1)));
    ASSERT_TRUE(Send(End(3, 116, 116)));
    std::uint8_t reply[protocol3::kReportSize];
    ASSERT_TRUE(model.OnRead(reply, sizeof reply));
    EXPECT_EQ(Bytes(reply, reply + sizeof reply), Report({{0x00, 0xBA, 0xC2, 0x01}}));
    EXPECT_FALSE(model.DownloadComplete());
}

}  // namespace
