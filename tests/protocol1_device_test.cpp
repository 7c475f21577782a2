// The protocol-1 device model checks every report the way the boot loader does.
#include <array>

#include "models/models.h"
#include "protocol/protocol1_reports.h"
#include "protocol/scrambled_report.h"
#include "protocol/time_limits.h"
#include "tests/protocol1_test_world.h"

namespace {

using namespace protocol1_test;

class Protocol1DeviceTest : public Protocol1World {
protected:
    void SetUp() override
    {
        Protocol1World::SetUp();
        OpenTransferHandle();
        InvertScrambleTable(ScrambleTable, inverse.data());
    }

    using Report = std::array<std::uint8_t, 64>;

    // A well-formed plain report for a command (report id, header, command, address and size),
    // its data and checksum 0.
    static Report Plain(std::uint8_t command, std::uint32_t address, std::uint8_t size)
    {
        Report plain{};
        protocol1::PutHeader(plain.data());
        protocol1::PutCommand(plain.data(), command, address, size);
        return plain;
    }

    // The checksum over the other bytes as they stand.
    static void Seal(Report& plain) { protocol1::PutChecksum(plain.data()); }

    Report Scrambled(Report plain) const
    {
        protocol1::SubstituteAfterReportId(plain.data(), plain.size(), inverse.data());
        return plain;
    }

    // Scrambles the plain bytes as they stand (no framing) and sends them.
    bool SendRaw(const Report& plain, std::size_t length = 64)
    {
        const Report wire = Scrambled(plain);
        return platform::HidSetOutputReport(TransferHandle(), wire.data(), length, kReportWriteLimitMs).done();
    }

    bool Send(Report plain)
    {
        Seal(plain);
        return SendRaw(plain);
    }

    bool Erase(std::uint32_t address) { return Send(Plain(0x8A, address, 0x01)); }

    bool Program(std::uint32_t address, std::uint8_t size, std::uint8_t fill)
    {
        auto plain = Plain(0x79, address, size);
        std::uint8_t* data = protocol1::DataField(plain.data());
        for (int i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(fill + i);
        return Send(plain);
    }

    bool Finish() { return Send(Plain(0xA4, 0x0A00, 0x00)); }

    bool ReadReply(std::array<std::uint8_t, 46>& reply)
    {
        reply.fill(0);
        reply[0] = 0x02;
        return platform::HidGetInputReport(TransferHandle(), reply.data(), reply.size(), kReplyReadLimitMs).done();
    }

    std::array<std::uint8_t, 256> inverse{};
};

TEST_F(Protocol1DeviceTest, FactoryMakesTheModelWithSeveralCollections)
{
    auto made = models::MakeProtocol1Device();
    ASSERT_NE(std::dynamic_pointer_cast<models::Protocol1Device>(made), nullptr);
    EXPECT_EQ(made->vendorId, 0x2563);
    EXPECT_EQ(made->productId, 0x0059);
    ASSERT_GE(made->collections.size(), 2u);
    EXPECT_EQ(made->collections[1].usagePage, 0xFF00);
    EXPECT_EQ(made->collections[1].usage, 0x0001);
    EXPECT_FALSE(made->DownloadComplete());
}

TEST_F(Protocol1DeviceTest, FlashStartsWithAnOldApplicationThatIsNowhereBlank)
{
    const auto flash = device->Flash();
    ASSERT_EQ(flash.size(), 0x8000u);
    for (std::uint32_t a = 0; a < flash.size(); ++a) {
        ASSERT_NE(flash[a], 0xFF) << a;
        ASSERT_EQ(flash[a], models::Protocol1Device::OldContent(a));
    }
}

TEST_F(Protocol1DeviceTest, AnswersInputReport2OnlyAfterAnIdentify)
{
    std::array<std::uint8_t, 46> reply{};
    EXPECT_FALSE(ReadReply(reply));
    ASSERT_TRUE(Send(Plain(0xB4, 0, 0)));
    ASSERT_TRUE(ReadReply(reply));
    EXPECT_EQ(reply[0], 0x02);
    // One answer per identify.
    EXPECT_FALSE(ReadReply(reply));
    EXPECT_TRUE(device->protocolErrors.empty());
}

TEST_F(Protocol1DeviceTest, NoIdentifyReplyOptionLeavesInputReport2Unanswered)
{
    ASSERT_TRUE(device->SetOption("no-identify-reply", 1));
    EXPECT_FALSE(device->SetOption("no-such-option", 1));
    ASSERT_TRUE(Send(Plain(0xB4, 0, 0)));
    std::array<std::uint8_t, 46> reply{};
    EXPECT_FALSE(ReadReply(reply));
    EXPECT_EQ(device->IdentifyCount(), 1u);
}

TEST_F(Protocol1DeviceTest, InputReportOfAnotherIdOrShorterBufferIsRefused)
{
    ASSERT_TRUE(Send(Plain(0xB4, 0, 0)));
    std::array<std::uint8_t, 64> buffer{};
    buffer[0] = 0x01;
    EXPECT_FALSE(platform::HidGetInputReport(TransferHandle(), buffer.data(), 46, kReplyReadLimitMs));
    buffer[0] = 0x02;
    EXPECT_FALSE(platform::HidGetInputReport(TransferHandle(), buffer.data(), 45, kReplyReadLimitMs));
    // The collection declares input report 2 of 46 bytes: the class driver refuses the others
    // before the boot loader sees them.
    EXPECT_EQ(device->stackRefusals, 2u);
    EXPECT_TRUE(device->protocolErrors.empty());
    // A longer buffer still receives the report; the boot loader itself checks its length.
    EXPECT_FALSE(platform::HidGetInputReport(TransferHandle(), buffer.data(), 64, kReplyReadLimitMs));
    EXPECT_EQ(device->protocolErrors.size(), 1u);
}

TEST_F(Protocol1DeviceTest, RejectsABadChecksum)
{
    auto plain = Plain(0x8A, 0x0A00, 0x01);
    Seal(plain);
    PutField(plain.data(), protocol1::kChecksumField, protocol1::ReadChecksum(plain.data()) + 1);
    EXPECT_FALSE(SendRaw(plain));
    ASSERT_EQ(device->protocolErrors.size(), 1u);
    EXPECT_NE(device->protocolErrors[0].find("checksum"), std::string::npos);
    EXPECT_EQ(device->EraseCount(0x0A00), 0u);
}

TEST_F(Protocol1DeviceTest, ChecksumCoversThePadding)
{
    auto plain = Plain(0x8A, 0x0A00, 0x01);
    Seal(plain);
    plain.back() = 0x01;  // padding changed after sealing
    EXPECT_FALSE(SendRaw(plain));
    plain.back() = 0x00;
    EXPECT_TRUE(SendRaw(plain));
}

TEST_F(Protocol1DeviceTest, RejectsABadHeaderAReportIdAndALength)
{
    auto plain = Plain(0x8A, 0x0A00, 0x01);
    PutField(plain.data(), protocol1::kDataFieldSizeField, 0x20);
    EXPECT_FALSE(Send(plain));
    plain = Plain(0x8A, 0x0A00, 0x01);
    plain[0] = 0x02;
    EXPECT_FALSE(Send(plain));
    EXPECT_FALSE(SendRaw(Plain(0x8A, 0x0A00, 0x01), 63));
    EXPECT_FALSE(Send(Plain(0x55, 0, 0)));
    // The report id and the length are the class driver's to refuse; the rest the boot loader's.
    EXPECT_EQ(device->stackRefusals, 2u);
    EXPECT_EQ(device->protocolErrors.size(), 2u);
    EXPECT_EQ(device->EraseCount(0x0A00), 0u);
}

TEST_F(Protocol1DeviceTest, ReportsThatArriveUnscrambledAreRejected)
{
    auto plain = Plain(0xB4, 0, 0);
    Seal(plain);
    EXPECT_FALSE(platform::HidSetOutputReport(TransferHandle(), plain.data(), 64, kReportWriteLimitMs));
    EXPECT_EQ(device->IdentifyCount(), 0u);
    EXPECT_FALSE(device->protocolErrors.empty());
}

// The boot loader takes its reports as set-output requests and answers get-input requests only;
// a well-formed report written to the interrupt pipe, and a read of it, are protocol errors.
TEST_F(Protocol1DeviceTest, InterruptPipeWritesAndReadsAreRefused)
{
    auto plain = Plain(0xB4, 0, 0);
    Seal(plain);
    const Report wire = Scrambled(plain);
    EXPECT_FALSE(platform::HidWriteReport(TransferHandle(), wire.data(), 64, kReportWriteLimitMs));
    std::array<std::uint8_t, 46> reply{};
    EXPECT_FALSE(platform::HidReadReport(TransferHandle(), reply.data(), reply.size(), kReplyReadLimitMs));
    EXPECT_EQ(device->IdentifyCount(), 0u);
    EXPECT_EQ(device->protocolErrors.size(), 2u);
    EXPECT_TRUE(SendRaw(plain));  // the same bytes as a set-output request
    EXPECT_EQ(device->IdentifyCount(), 1u);
}

TEST_F(Protocol1DeviceTest, EraseOnlyWholeBlocksOfTheRegion)
{
    EXPECT_FALSE(Erase(0x0800));  // the boot loader
    EXPECT_FALSE(Erase(0x0B00));  // not a block boundary
    EXPECT_FALSE(Erase(0x8000));  // past the flash
    EXPECT_FALSE(Send(Plain(0x8A, 0x0A00, 0x02)));
    EXPECT_EQ(device->protocolErrors.size(), 4u);

    ASSERT_TRUE(Erase(0x0A00));
    ASSERT_TRUE(Erase(0x7E00));
    const auto flash = device->Flash();
    for (std::uint32_t a = 0x0A00; a < 0x0C00; ++a) ASSERT_EQ(flash[a], 0xFF);
    for (std::uint32_t a = 0x7E00; a < 0x8000; ++a) ASSERT_EQ(flash[a], 0xFF);
    EXPECT_EQ(flash[0x09FF], models::Protocol1Device::OldContent(0x09FF));
    EXPECT_EQ(flash[0x0C00], models::Protocol1Device::OldContent(0x0C00));
}

TEST_F(Protocol1DeviceTest, ProgramsOnlyIntoErasedBlocksOfTheRegion)
{
    EXPECT_FALSE(Program(0x0A00, 32, 0x10));  // not erased yet
    ASSERT_TRUE(Erase(0x0A00));
    EXPECT_FALSE(Program(0x0C00, 32, 0x10));  // the next block is not erased
    EXPECT_FALSE(Program(0x09E0, 32, 0x10));  // the boot loader
    EXPECT_FALSE(Program(0x0A10, 16, 0x10));  // not a chunk boundary
    EXPECT_FALSE(Program(0x0A00, 0, 0x10));
    EXPECT_FALSE(Program(0x0A00, 33, 0x10));
    EXPECT_EQ(device->protocolErrors.size(), 6u);

    ASSERT_TRUE(Program(0x0A20, 32, 0x10));
    const auto flash = device->Flash();
    for (int i = 0; i < 32; ++i) EXPECT_EQ(flash[0x0A20 + i], 0x10 + i);
    EXPECT_EQ(flash[0x0A40], 0xFF);
    EXPECT_EQ(device->ProgramCount(0x0A20), 1u);

    // Programming the same chunk again would write over data.
    EXPECT_FALSE(Program(0x0A20, 32, 0x10));
    EXPECT_EQ(device->ProgramCount(0x0A20), 1u);
}

TEST_F(Protocol1DeviceTest, ShortChunkAtTheTopOfTheFlash)
{
    ASSERT_TRUE(Erase(0x7E00));
    ASSERT_TRUE(Program(0x7FE0, 31, 0x20));
    const auto flash = device->Flash();
    EXPECT_EQ(flash[0x7FFE], 0x20 + 30);
    EXPECT_EQ(flash[0x7FFF], 0xFF);
}

TEST_F(Protocol1DeviceTest, CompleteOnlyAfterAWholeRegionAndOneFinish)
{
    for (std::uint32_t block = 0x0A00; block < 0x7E00; block += 0x200) ASSERT_TRUE(Erase(block));
    EXPECT_FALSE(device->DownloadComplete());
    ASSERT_TRUE(Erase(0x7E00));
    EXPECT_FALSE(device->DownloadComplete());
    EXPECT_FALSE(Send(Plain(0xA4, 0x0B00, 0x00)));  // wrong start address
    device->protocolErrors.clear();
    ASSERT_TRUE(Finish());
    EXPECT_TRUE(device->DownloadComplete());
    EXPECT_EQ(device->FinishCount(), 1u);

    // The boot loader has handed over: nothing more is taken.
    EXPECT_FALSE(Erase(0x0A00));
    EXPECT_FALSE(device->DownloadComplete());
}

TEST_F(Protocol1DeviceTest, FinishWithoutEraseIsNotComplete)
{
    ASSERT_TRUE(Finish());
    EXPECT_FALSE(device->DownloadComplete());
}

}  // namespace
