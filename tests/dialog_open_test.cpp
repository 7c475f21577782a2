// The hidden Open command: extension test, buffer bounds, byte sum.
#include "tests/test_world.h"

#include <cstdio>
#include <fstream>

namespace {

using Lines = std::vector<std::string>;

class OpenTest : public WorldTest {
protected:
    std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes)
    {
        const std::string path = ::testing::TempDir() + name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                     static_cast<std::streamsize>(bytes.size()));
        created_.push_back(path);
        return path;
    }
    void TearDown() override
    {
        for (const auto& path : created_) std::remove(path.c_str());
        WorldTest::TearDown();
    }
    std::vector<std::string> created_;
};

TEST_F(OpenTest, ExtensionTestIgnoresCase)
{
    std::string sum;
    ASSERT_EQ(LoadFirmwareImage(2), 1);
    EXPECT_EQ(DialogOpenFile(sim::kDialogWindow, Write("image.BIN", {1}), sum), OpenResult::Read);
    EXPECT_EQ(sum, "0x1");
    EXPECT_EQ(DialogOpenFile(sim::kDialogWindow, Write("image.bin.txt", {1}), sum), OpenResult::Rejected);
    EXPECT_EQ(DialogOpenFile(sim::kDialogWindow, "bin", sum), OpenResult::Rejected);
    EXPECT_EQ(BoxTexts(), (Lines{"Error | Not supported file type!", "Error | Not supported file type!"}));
}

TEST_F(OpenTest, EmptyAndShortFiles)
{
    ASSERT_EQ(LoadFirmwareImage(1), 1);
    std::string sum;
    EXPECT_EQ(DialogOpenFile(sim::kDialogWindow, Write("empty.bin", {}), sum), OpenResult::Read);
    EXPECT_EQ(sum, "0x0");
    EXPECT_TRUE(std::all_of(firmwareBuffer.data, firmwareBuffer.data + 32769, [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(DialogOpenFile(sim::kDialogWindow, Write("three.bin", {1, 2, 3}), sum), OpenResult::Read);
    EXPECT_EQ(sum, "0x6");
    EXPECT_EQ(std::vector<std::uint8_t>(firmwareBuffer.data, firmwareBuffer.data + 5),
              (std::vector<std::uint8_t>{1, 2, 3, 0xFF, 0xFF}));
}

TEST_F(OpenTest, NoBufferYetAndLongFilesStayInBounds)
{
    std::string sum;
    std::vector<std::uint8_t> big(40000, 0x01);
    ASSERT_EQ(DialogOpenFile(sim::kDialogWindow, Write("big.bin", big), sum), OpenResult::Read);
    EXPECT_EQ(sum, "0x9c40");  // the whole file's sum
    ASSERT_EQ(firmwareBuffer.size, 32769u);
    EXPECT_EQ(firmwareBuffer.data[32768], 0x01);
}

TEST_F(OpenTest, UnreadableFileKeepsTheFilledBuffer)
{
    ASSERT_EQ(LoadFirmwareImage(2), 1);
    std::string sum = "unchanged";
    EXPECT_EQ(DialogOpenFile(sim::kDialogWindow, ::testing::TempDir() + "missing-file.bin", sum),
              OpenResult::Unreadable);
    EXPECT_EQ(sum, "unchanged");
    EXPECT_EQ(BoxTexts(), (Lines{"Error | Not supported file type!"}));
    EXPECT_TRUE(std::all_of(firmwareBuffer.data, firmwareBuffer.data + 32769, [](std::uint8_t b) { return b == 0xFF; }));
}

}  // namespace
