// The protocol-2 stream against the device model that checks every report the way the
// controller's firmware does.

#include <gtest/gtest.h>

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
#include "protocol/protocol2_reports.h"
#include "protocol/transfers.h"
#include "sim/hid_bus.h"
#include "models/protocol2_device.h"
#include "sim/trace.h"
#include "sim/world.h"
#include "tests/test_world.h"
#include "codec/hex_text.h"

namespace {

constexpr std::size_t kStreamBytes = 30744;  // image bytes 0 to 0x7817

struct TracedReport {
    std::string status;  // ok, fail or timeout
    std::vector<std::uint8_t> bytes;
};


std::vector<TracedReport> Writes()
{
    std::vector<TracedReport> writes;
    for (const std::string& line : sim::TraceEvents("write")) {
        const std::size_t first = line.find(' ');
        const std::size_t second = line.find(' ', first + 1);
        writes.push_back({line.substr(first + 1, second - first - 1), codec::FromHex(line.substr(second + 1))});
    }
    return writes;
}

std::vector<std::uint8_t> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

using Bytes = std::vector<std::uint8_t>;

Bytes Join(Bytes head, const Bytes& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

Bytes StartReport()
{
    Bytes start = {0x03, 0x25, 0x63, 0x47};
    start.resize(64, 0x00);
    return start;
}

// A data report as the device reads it: its checksum and offset high byte first, then the chunk.
Bytes DataReport(std::uint32_t offset, const Bytes& chunk)
{
    const std::uint32_t sum = std::accumulate(chunk.begin(), chunk.end(), std::uint32_t{0});
    return Join({0x03, 0x25, 0x63, 0x87, std::uint8_t(sum >> 8), std::uint8_t(sum), std::uint8_t(offset >> 8),
                 std::uint8_t(offset)},
                chunk);
}

class Protocol2Test : public WorldTest {
protected:
    void SetUp() override
    {
        WorldTest::SetUp();
        device = std::make_shared<models::Protocol2Device>();
        sim::Plug(device);
        ASSERT_TRUE(deviceLink->FindProtocol2Device());
        ASSERT_NE(deviceLink->transferHandle, platform::kInvalidHandle);
        sim::TraceOpen();  // the traffic of the download only
    }

    // A buffer of size bytes of 0xFF in place of a loaded image; the test fills its chunks.
    // It is owned by firmwareBuffer as a loaded one is.
    std::uint8_t* UseOwnBuffer(std::size_t size = kSmallImageBufferSize)
    {
        ReleaseFirmwareBuffer();
        firmwareBuffer.data = new std::uint8_t[size];
        firmwareBuffer.size = size;
        std::fill(firmwareBuffer.data, firmwareBuffer.data + size, 0xFF);
        return firmwareBuffer.data;
    }

    std::shared_ptr<models::Protocol2Device> device;
};

TEST_F(Protocol2Test, ShippedImageProgramsExactlyTheStreamedBytes)
{
    ASSERT_EQ(1, LoadFirmwareImage(2));
    const std::vector<std::uint8_t> image = ReadFile(std::string(OSKEL_SOURCE_DIR) + "/res/firmware/mode2.bin");
    ASSERT_EQ(image.size(), 32768u);

    EXPECT_TRUE(DownloadProtocol2(sim::kDialogWindow));

    EXPECT_TRUE(device->DownloadComplete());
    EXPECT_TRUE(device->protocolErrors.empty()) << device->protocolErrors.front();
    const std::vector<std::uint8_t> flash = device->Flash();
    ASSERT_EQ(flash.size(), models::Protocol2Device::kFlashSize);
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + kStreamBytes, flash.begin()));
    // Image bytes 0x7818 onwards are never sent: the flash there is still erased.
    EXPECT_TRUE(std::all_of(flash.begin() + kStreamBytes, flash.end(), [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_FALSE(std::all_of(image.begin() + kStreamBytes, image.end(), [](std::uint8_t b) { return b == 0xFF; }));
    const auto ranges = device->ProgrammedRanges();
    ASSERT_EQ(ranges.size(), 1u);
    EXPECT_EQ(ranges[0].first, 0u);
    EXPECT_EQ(ranges[0].second, kStreamBytes);

    const auto writes = Writes();
    ASSERT_EQ(writes.size(), 550u);
    EXPECT_EQ(writes[0].bytes, StartReport());
    EXPECT_EQ(device->StartReportsAccepted(), 1u);
    EXPECT_EQ(device->DataReportsAccepted(), 549u);
    EXPECT_TRUE(sim::TraceEvents("sleep").empty());
    EXPECT_TRUE(sim::TraceEvents("read").empty());
}

TEST_F(Protocol2Test, DataReportsCarryOffsetHighByteFirstAndNothingFollowsTheLast)
{
    ASSERT_EQ(1, LoadFirmwareImage(2));
    const std::vector<std::uint8_t> image = ReadFile(std::string(OSKEL_SOURCE_DIR) + "/res/firmware/mode2.bin");
    ASSERT_TRUE(DownloadProtocol2(sim::kDialogWindow));

    const auto writes = Writes();
    ASSERT_EQ(writes.size(), 550u);
    for (std::size_t k = 0; k < 549; ++k) {
        const Bytes& report = writes[k + 1].bytes;
        ASSERT_EQ(report.size(), 64u);
        EXPECT_EQ(writes[k + 1].status, "ok");
        const std::uint32_t offset = static_cast<std::uint32_t>(k * 56);
        const Bytes chunk(image.begin() + offset, image.begin() + offset + 56);
        EXPECT_EQ(report, DataReport(offset, chunk)) << "report " << k;
    }
    EXPECT_EQ(protocol2::ReadOffset(writes[1].bytes.data()), 0x0000u);
    EXPECT_EQ(protocol2::ReadOffset(writes[2].bytes.data()), 0x0038u);
    EXPECT_EQ(protocol2::ReadOffset(writes[549].bytes.data()), 0x77E0u);
}

TEST_F(Protocol2Test, ProgressFollowsEveryDataReportThenTenThousand)
{
    ASSERT_EQ(1, LoadFirmwareImage(2));
    ASSERT_TRUE(DownloadProtocol2(sim::kDialogWindow));

    const std::vector<std::int32_t> progress = sim::Dialog().progress;
    ASSERT_EQ(progress.size(), 550u);
    EXPECT_EQ(progress[0], 1);
    EXPECT_EQ(progress[1], 18);
    EXPECT_EQ(progress[2], 35);
    EXPECT_EQ(progress[547], 9349);
    EXPECT_EQ(progress[548], 9366);
    EXPECT_EQ(progress[549], 10000);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(sim::Dialog().barPos, 10000);

    // Each position is sent after its report was written, never before.
    std::size_t writesSeen = 0, positionsSeen = 0;
    for (const std::string& line : sim::TraceLines()) {
        if (line.rfind("write ", 0) == 0) ++writesSeen;
        if (line.rfind("progress ", 0) == 0) {
            ++positionsSeen;
            EXPECT_GE(writesSeen, std::min<std::size_t>(positionsSeen + 1, 550)) << line;
        }
    }
    EXPECT_EQ(positionsSeen, 550u);
}

TEST_F(Protocol2Test, ChecksumIsTheByteSumOfTheChunkHighByteFirst)
{
    std::uint8_t* image = UseOwnBuffer();
    std::fill(image, image + 56, 0xFF);
    std::fill(image + 56, image + 112, 0x01);
    std::fill(image + 112, image + 168, 0x00);
    image[168] = 0xAB;  // the rest of chunk 3 stays 0xFF

    ASSERT_TRUE(DownloadProtocol2(sim::kDialogWindow));
    const auto writes = Writes();
    ASSERT_EQ(writes.size(), 550u);
    // Checksum, then offset, each high byte first.
    EXPECT_EQ(writes[1].bytes, Join({0x03, 0x25, 0x63, 0x87, 0x37, 0xC8, 0x00, 0x00}, Bytes(56, 0xFF)));
    EXPECT_EQ(writes[2].bytes, Join({0x03, 0x25, 0x63, 0x87, 0x00, 0x38, 0x00, 0x38}, Bytes(56, 0x01)));
    EXPECT_EQ(writes[3].bytes, Join({0x03, 0x25, 0x63, 0x87, 0x00, 0x00, 0x00, 0x70}, Bytes(56, 0x00)));
    // 0xAB + 55 * 0xFF = 0x37C8 - 0xFF + 0xAB = 0x3774
    EXPECT_EQ(writes[4].bytes, Join({0x03, 0x25, 0x63, 0x87, 0x37, 0x74, 0x00, 0xA8, 0xAB}, Bytes(55, 0xFF)));
    EXPECT_TRUE(device->DownloadComplete());
    EXPECT_EQ(device->Flash()[168], 0xAB);
}

TEST_F(Protocol2Test, StartAcceptedAtTheThirdAttempt)
{
    ASSERT_EQ(1, LoadFirmwareImage(2));
    ASSERT_TRUE(device->SetOption("refuse-start", 2));

    EXPECT_TRUE(DownloadProtocol2(sim::kDialogWindow));

    EXPECT_EQ(sim::TraceEvents("sleep"), (std::vector<std::string>{"sleep 1000", "sleep 1000"}));
    const auto writes = Writes();
    ASSERT_EQ(writes.size(), 552u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(writes[i].bytes, StartReport());
    EXPECT_EQ(writes[0].status, "fail");
    EXPECT_EQ(writes[1].status, "fail");
    EXPECT_EQ(writes[2].status, "ok");
    EXPECT_EQ(protocol2::ReadCommand(writes[3].bytes.data()), 0x87);
    // The pauses come between the refused attempts, before the stream.
    std::vector<std::string> kinds;
    for (const std::string& line : sim::TraceLines()) {
        const std::string event = line.substr(0, line.find(' '));
        if (event == "write" || event == "sleep") kinds.push_back(event);
        if (kinds.size() == 6) break;
    }
    EXPECT_EQ(kinds, (std::vector<std::string>{"write", "sleep", "write", "sleep", "write", "write"}));
    EXPECT_TRUE(device->DownloadComplete());
    EXPECT_TRUE(device->protocolErrors.empty());
}

TEST_F(Protocol2Test, StartNeverAcceptedGivesUpAfterTenAttempts)
{
    ASSERT_EQ(1, LoadFirmwareImage(2));
    ASSERT_TRUE(device->SetOption("refuse-start", 1000));

    EXPECT_FALSE(DownloadProtocol2(sim::kDialogWindow));

    const auto writes = Writes();
    ASSERT_EQ(writes.size(), 10u);
    for (const auto& write : writes) {
        EXPECT_EQ(write.status, "fail");
        EXPECT_EQ(write.bytes, StartReport());
    }
    EXPECT_EQ(sim::TraceEvents("sleep"), std::vector<std::string>(10, "sleep 1000"));
    EXPECT_EQ(sim::TraceLines().back(), "sleep 1000");  // the tenth pause comes too
    EXPECT_TRUE(sim::Dialog().progress.empty());
    EXPECT_EQ(device->StartReportsAccepted(), 0u);
}

TEST_F(Protocol2Test, RefusedDataReportEndsTheStreamAtOnce)
{
    ASSERT_EQ(1, LoadFirmwareImage(2));
    device->faults.refuseReport = 4;  // start, offset 0, offset 56, then offset 0x0070

    EXPECT_FALSE(DownloadProtocol2(sim::kDialogWindow));

    const auto writes = Writes();
    ASSERT_EQ(writes.size(), 4u);
    EXPECT_EQ(writes[3].status, "fail");
    EXPECT_EQ(protocol2::ReadOffset(writes[3].bytes.data()), 0x0070u);
    EXPECT_EQ(device->StartReportsAccepted(), 1u);
    EXPECT_EQ(device->DataReportsAccepted(), 2u);
    const auto ranges = device->ProgrammedRanges();
    ASSERT_EQ(ranges.size(), 1u);
    EXPECT_EQ(ranges[0].second, 112u);
    EXPECT_EQ(sim::Dialog().progress, (std::vector<std::int32_t>{1, 18}));
    EXPECT_EQ(sim::Dialog().barPos, 18);
    EXPECT_TRUE(sim::TraceEvents("sleep").empty());
    EXPECT_FALSE(device->DownloadComplete());
}

TEST_F(Protocol2Test, DeviceRemovedMidStreamIsAFailure)
{
    ASSERT_EQ(1, LoadFirmwareImage(2));
    device->faults.removeAfterReports = 100;

    EXPECT_FALSE(DownloadProtocol2(sim::kDialogWindow));
    EXPECT_EQ(device->DataReportsAccepted(), 99u);
    EXPECT_EQ(sim::Dialog().progress.size(), 99u);
    EXPECT_FALSE(device->DownloadComplete());
}

TEST_F(Protocol2Test, BufferThatCannotHoldTheStreamSendsNothing)
{
    ReleaseFirmwareBuffer();
    EXPECT_FALSE(DownloadProtocol2(sim::kDialogWindow));

    UseOwnBuffer(kStreamBytes - 1);
    EXPECT_FALSE(DownloadProtocol2(sim::kDialogWindow));

    EXPECT_TRUE(sim::TraceEvents("write").empty());
    EXPECT_TRUE(sim::Dialog().progress.empty());

    UseOwnBuffer(kStreamBytes);  // exactly the bytes sent is enough
    EXPECT_TRUE(DownloadProtocol2(sim::kDialogWindow));
    EXPECT_TRUE(device->DownloadComplete());
}

TEST_F(Protocol2Test, StalledWriteEndsTheDownloadWithinItsTimeLimit)
{
    ASSERT_EQ(1, LoadFirmwareImage(2));
    device->faults.stallReport = 10;
    downloadState.mode = 2;
    downloadState.busy = 1;
    downloadState.UpdateModeFlag = 1;

    const auto begin = std::chrono::steady_clock::now();
    StartDownloadWorker(sim::kDialogWindow);
    ASSERT_TRUE(sim::WaitForThreads(20000));
    const auto elapsed = std::chrono::steady_clock::now() - begin;
    EXPECT_LT(elapsed, std::chrono::seconds(10));

    const auto writes = Writes();
    ASSERT_EQ(writes.size(), 10u);
    EXPECT_EQ(writes[9].status, "timeout");
    const sim::DialogView dialog = sim::Dialog();
    ASSERT_EQ(dialog.boxes.size(), 1u);
    EXPECT_EQ(dialog.boxes[0].caption, "Download");
    EXPECT_EQ(dialog.boxes[0].text, "Download Failture!");
    EXPECT_EQ(dialog.boxes[0].flags, 0x10u);
    EXPECT_TRUE(dialog.controlsEnabled);
    EXPECT_EQ(dialog.barPos, 0);
    ASSERT_FALSE(dialog.progress.empty());
    EXPECT_EQ(dialog.progress.back(), 0);
    EXPECT_EQ(dialog.progress.size(), 9u);  // 8 data reports, then the reset
    EXPECT_EQ(downloadState.busy, 0);
    EXPECT_EQ(downloadState.UpdateModeFlag, 0);
    EXPECT_EQ(sim::TraceEvents("controls"), (std::vector<std::string>{"controls disabled", "controls enabled"}));
}

TEST_F(Protocol2Test, WorkerReportsASuccessfulDownload)
{
    ASSERT_EQ(1, LoadFirmwareImage(2));
    downloadState.mode = 2;

    StartDownloadWorker(sim::kDialogWindow);
    ASSERT_TRUE(sim::WaitForThreads(60000));

    const sim::DialogView dialog = sim::Dialog();
    ASSERT_EQ(dialog.boxes.size(), 1u);
    EXPECT_EQ(dialog.boxes[0].text, "Download Successful!");
    EXPECT_EQ(dialog.boxes[0].flags, 0x40u);
    EXPECT_TRUE(dialog.controlsEnabled);
    EXPECT_EQ(dialog.barPos, 0);
    EXPECT_TRUE(device->DownloadComplete());
}

// The model itself: it must catch what a faulty host would send.
class Protocol2ModelTest : public ::testing::Test {
protected:
    // A well-formed data report of 56 bytes of fill.
    static Bytes Data(std::uint32_t offset, std::uint8_t fill)
    {
        const Bytes chunk(protocol2::kChunkSize, fill);
        Bytes report(protocol2::kReportSize);
        protocol2::PutData(report.data(), offset, chunk.data());
        return report;
    }

    models::Protocol2Device model;
};

TEST_F(Protocol2ModelTest, RefusesDataBeforeTheStart)
{
    const auto report = Data(0, 0x11);
    EXPECT_FALSE(model.OnWrite(report.data(), report.size()));
    EXPECT_EQ(model.protocolErrors.size(), 1u);
}

TEST_F(Protocol2ModelTest, RefusesAStartReportWithTrailingBytes)
{
    auto start = StartReport();
    start.back() = 1;
    EXPECT_FALSE(model.OnWrite(start.data(), start.size()));
    EXPECT_EQ(model.protocolErrors.size(), 1u);
}

TEST_F(Protocol2ModelTest, RefusesAWrongChecksumAGapAndARepeat)
{
    const auto start = StartReport();
    ASSERT_TRUE(model.OnWrite(start.data(), start.size()));
    auto first = Data(0, 0x22);
    ASSERT_TRUE(model.OnWrite(first.data(), first.size()));

    auto badSum = Data(56, 0x22);
    PutField(badSum.data(), protocol2::kChecksumField, protocol2::ReadChecksum(badSum.data()) ^ 1);
    EXPECT_FALSE(model.OnWrite(badSum.data(), badSum.size()));
    const auto gap = Data(112, 0x22);
    EXPECT_FALSE(model.OnWrite(gap.data(), gap.size()));
    EXPECT_FALSE(model.OnWrite(first.data(), first.size()));
    auto shortReport = first;
    shortReport.pop_back();
    EXPECT_FALSE(model.OnWrite(shortReport.data(), shortReport.size()));
    EXPECT_EQ(model.protocolErrors.size(), 4u);

    const auto second = Data(56, 0x22);
    EXPECT_TRUE(model.OnWrite(second.data(), second.size()));
    EXPECT_EQ(model.DataReportsAccepted(), 2u);
    EXPECT_FALSE(model.DownloadComplete());
}

TEST_F(Protocol2ModelTest, CompleteOnlyAtTheLastOffsetAndNothingAfterIt)
{
    const auto start = StartReport();
    ASSERT_TRUE(model.OnWrite(start.data(), start.size()));
    for (unsigned offset = 0; offset <= 0x77E0; offset += 56) {
        EXPECT_FALSE(model.DownloadComplete());
        const auto report = Data(offset, static_cast<std::uint8_t>(offset / 56));
        ASSERT_TRUE(model.OnWrite(report.data(), report.size())) << offset;
    }
    EXPECT_TRUE(model.DownloadComplete());
    const auto extra = Data(0x77E0 + 56, 0);
    EXPECT_FALSE(model.OnWrite(extra.data(), extra.size()));
    EXPECT_TRUE(model.DownloadComplete());
    EXPECT_EQ(model.protocolErrors.size(), 1u);
}

}  // namespace
