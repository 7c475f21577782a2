// Loading the firmware images into the process-wide buffer.
#include "tests/test_world.h"

#include <fstream>
#include <iterator>

namespace {

std::vector<std::uint8_t> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::uint8_t> ShippedImage(int mode)
{
    return ReadFile(std::string(OSKEL_SOURCE_DIR) + "/res/firmware/mode" + std::to_string(mode) + ".bin");
}

class FirmwareImageTest : public WorldTest {};

TEST_F(FirmwareImageTest, ModesOneAndTwoFillWithFF)
{
    for (int mode : {1, 2}) {
        SCOPED_TRACE(mode);
        firmwareBuffer.imageLength = 7;
        firmwareBuffer.blockCount = 8;
        firmwareBuffer.runningTotal = 9;
        const std::vector<std::uint8_t> image = ShippedImage(mode);
        ASSERT_EQ(image.size(), 32768u);
        ASSERT_EQ(LoadFirmwareImage(mode), 1);
        ASSERT_EQ(firmwareBuffer.size, 32769u);
        EXPECT_TRUE(std::equal(image.begin(), image.end(), firmwareBuffer.data));
        EXPECT_EQ(firmwareBuffer.data[32768], 0xFF);
        EXPECT_EQ(firmwareBuffer.imageLength, 7u);
        EXPECT_EQ(firmwareBuffer.blockCount, 8u);
        EXPECT_EQ(firmwareBuffer.runningTotal, 9u);
    }
}

TEST_F(FirmwareImageTest, ModeThreeFillsWithZeroAndSetsItsFields)
{
    firmwareBuffer.runningTotal = 12345;
    const std::vector<std::uint8_t> image = ShippedImage(3);
    ASSERT_EQ(image.size(), 195933u);
    ASSERT_EQ(LoadFirmwareImage(3), 1);
    ASSERT_EQ(firmwareBuffer.size, 215040u);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), firmwareBuffer.data));
    EXPECT_TRUE(std::all_of(firmwareBuffer.data + image.size(), firmwareBuffer.data + 215040,
                            [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(firmwareBuffer.imageLength, 195933u);
    EXPECT_EQ(firmwareBuffer.blockCount, 3379u);
    EXPECT_EQ(firmwareBuffer.runningTotal, 0u);
    // A mode-2 load afterwards keeps the mode-3 fields.
    ASSERT_EQ(LoadFirmwareImage(2), 1);
    EXPECT_EQ(firmwareBuffer.imageLength, 195933u);
    EXPECT_EQ(firmwareBuffer.blockCount, 3379u);
}

TEST_F(FirmwareImageTest, UnknownModesChangeNothing)
{
    ASSERT_EQ(LoadFirmwareImage(1), 1);
    const std::uint8_t* data = firmwareBuffer.data;
    for (int mode : {0, 4, -1}) {
        EXPECT_EQ(LoadFirmwareImage(mode), 0);
        EXPECT_EQ(firmwareBuffer.data, data);
        EXPECT_EQ(firmwareBuffer.size, 32769u);
    }
}

TEST_F(FirmwareImageTest, MissingEmptyShortOrOversizedResourceChangesNothing)
{
    ASSERT_EQ(LoadFirmwareImage(3), 1);
    const std::uint8_t* data = firmwareBuffer.data;
    sim::OverrideImageResource(106, nullptr);
    EXPECT_EQ(LoadFirmwareImage(1), 0);
    const std::vector<std::uint8_t> empty;
    for (int mode : {1, 2, 3}) {
        sim::OverrideImageResource(105 + mode, &empty);
        EXPECT_EQ(LoadFirmwareImage(mode), 0) << mode;
    }
    // Mode 1 programs from 0x0A00 on: an image that ends below it is no image.
    std::vector<std::uint8_t> belowRegion(0x0A00, 0x44);
    sim::OverrideImageResource(106, &belowRegion);
    EXPECT_EQ(LoadFirmwareImage(1), 0);
    std::vector<std::uint8_t> oversized(32770, 0x11);
    sim::OverrideImageResource(107, &oversized);
    EXPECT_EQ(LoadFirmwareImage(2), 0);
    std::vector<std::uint8_t> oversizedLarge(215041, 0x22);
    sim::OverrideImageResource(108, &oversizedLarge);
    firmwareBuffer.runningTotal = 77;
    EXPECT_EQ(LoadFirmwareImage(3), 0);
    EXPECT_EQ(firmwareBuffer.data, data);
    EXPECT_EQ(firmwareBuffer.size, 215040u);
    EXPECT_EQ(firmwareBuffer.runningTotal, 77u);
    // A file that just fits is taken, as is the shortest image of each mode.
    std::vector<std::uint8_t> full(32769, 0x33);
    sim::OverrideImageResource(107, &full);
    EXPECT_EQ(LoadFirmwareImage(2), 1);
    EXPECT_EQ(firmwareBuffer.data[32768], 0x33);
    belowRegion.push_back(0x55);
    sim::OverrideImageResource(106, &belowRegion);
    EXPECT_EQ(LoadFirmwareImage(1), 1);
    const std::vector<std::uint8_t> oneByte = {0x66};
    sim::OverrideImageResource(108, &oneByte);
    EXPECT_EQ(LoadFirmwareImage(3), 1);
    EXPECT_EQ(firmwareBuffer.imageLength, 1u);
}

TEST_F(FirmwareImageTest, ShortImageAndRepeatedLoads)
{
    std::vector<std::uint8_t> shortImage = {1, 2, 3};
    sim::OverrideImageResource(108, &shortImage);
    ASSERT_EQ(LoadFirmwareImage(3), 1);
    EXPECT_EQ(firmwareBuffer.imageLength, 3u);
    EXPECT_EQ(firmwareBuffer.blockCount, 1u);
    EXPECT_EQ(firmwareBuffer.data[3], 0);
    for (int i = 0; i < 50; ++i) ASSERT_EQ(LoadFirmwareImage(1 + i % 3), 1);  // the sanitizer build sees leaks
}

}  // namespace
