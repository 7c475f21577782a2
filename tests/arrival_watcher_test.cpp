// The arrival watcher and the dialog's device-change filter.
#include "tests/test_world.h"

#include <cctype>
#include <cstring>
#include <memory>

#include "device/arrival_watcher.h"
#include "platform/hid.h"

namespace {

using Lines = std::vector<std::string>;

class ArrivalTest : public WorldTest {
protected:
    static int WorkersStarted() { return static_cast<int>(sim::TraceEvents("controls disabled").size()); }

    // Watches the state while the worker shows its result box.
    struct StateAtBox {
        std::int32_t mode = -1, busy = -1, arrivalCount = -1;
    };
    StateAtBox atBox;
    void WatchStateAtBox()
    {
        sim::SetMessageBoxHook([this](const sim::MessageBoxRecord& box) {
            if (box.caption != "Download") return;
            atBox = {downloadState.mode, downloadState.busy, downloadState.arrivalCount};
        });
    }
};

// The name arrives in the ANSI layout or, as some systems send it even to a window registered
// for ANSI records, in the wide one; either is lowercased in place and matched.
TEST_F(ArrivalTest, UpperCasePathOfModeTwoStartsADownloadInEitherLayout)
{
    for (const sim::NameLayout layout : {sim::NameLayout::Ansi, sim::NameLayout::Wide}) {
        const bool wide = layout == sim::NameLayout::Wide;
        SCOPED_TRACE(wide ? "wide" : "ansi");
        sim::ResetBus();
        sim::TraceOpen();
        auto device = models::MakeDevice(0x2563, 0x1818);
        device->upperCasePaths = true;
        sim::Plug(device);
        device->instanceId = "7&2a3b4c5d&0";  // 'A', the first letter, in the instance id
        WatchStateAtBox();
        std::vector<std::uint8_t> record = sim::MakeInterfaceBroadcast(device->PathOf(0), layout);
        EXPECT_EQ(DialogDeviceChange(sim::kDialogWindow, 0x8000, record.data()), 1);
        ASSERT_TRUE(WaitForDownload());
        EXPECT_EQ(WorkersStarted(), 1);
        EXPECT_TRUE(device->DownloadComplete());
        EXPECT_EQ(atBox.mode, 2);
        EXPECT_EQ(atBox.busy, 1);
        EXPECT_EQ(atBox.arrivalCount, 0);
        EXPECT_EQ(sim::TraceEvents("debug").at(0), "debug -------1-------\\n");
        // The name was lowercased in place, inside the record.
        std::string name;
        for (std::size_t at = 28; at < record.size() && record[at] != 0; at += wide ? 2 : 1) {
            if (wide) {
                EXPECT_EQ(record[at + 1], 0);
            }
            name.push_back(static_cast<char>(record[at]));
        }
        std::string lowered = device->PathOf(0);
        for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_EQ(name, lowered);
        EXPECT_NE(name.find("#7&2a3b4c5d&0&0000#"), std::string::npos) << name;
        deviceLink->CloseDeviceLink();
    }
}

TEST_F(ArrivalTest, ProtocolOneStartsFromTheSecondArrivalOn)
{
    auto device = PlugCollections(0x2563, 0x0059, {{0xFF00, 0x0001}});
    AnnounceArrival(device);
    EXPECT_EQ(DebugLines(), (Lines{"-------1-------\n"}));
    EXPECT_EQ(WorkersStarted(), 0);
    AnnounceArrival(device);
    ASSERT_TRUE(WaitForDownload());
    EXPECT_EQ(DebugLines().at(1), "-------2-------\n");
    EXPECT_EQ(WorkersStarted(), 1);
    EXPECT_EQ(downloadState.mode, 1);
    EXPECT_EQ(downloadState.arrivalCount, 0);
}

TEST_F(ArrivalTest, AKeyboardCountsTowardsProtocolOne)
{
    auto keyboard = PlugCollections(0x046D, 0xC31C, {{0x0001, 0x0006}});
    AnnounceArrival(keyboard);
    EXPECT_EQ(downloadState.arrivalCount, 1);
    EXPECT_EQ(WorkersStarted(), 0);
    auto device = PlugCollections(0x2563, 0x0059, {{0xFF00, 0x0001}});
    AnnounceArrival(device);
    ASSERT_TRUE(WaitForDownload());
    EXPECT_EQ(WorkersStarted(), 1);
}

TEST_F(ArrivalTest, SeveralCollectionsStartProtocolOneOnTheSecondInterface)
{
    auto device = PlugDevice(0x2563, 0x0059);
    ASSERT_GE(device->collections.size(), 2u);
    AnnounceArrival(device);
    ASSERT_TRUE(WaitForDownload());
    EXPECT_EQ(WorkersStarted(), 1);
    // The arrivals after the start were counted again from 0.
    EXPECT_EQ(downloadState.arrivalCount, static_cast<std::int32_t>(device->collections.size()) - 2);
}

TEST_F(ArrivalTest, ArrivalsDuringAWatcherDownloadAreOnlyCounted)
{
    auto device = PlugDevice(0x0461, 0x4D81);
    std::vector<std::string> linesDuringBox;
    sim::SetMessageBoxHook([&](const sim::MessageBoxRecord&) {
        // The result box of the first download: arrivals now are counted and written only.
        AnnounceArrival(device);
        AnnounceArrival(device);
        linesDuringBox = DebugLines();
    });
    AnnounceArrival(device);
    ASSERT_TRUE(WaitForDownload());
    sim::SetMessageBoxHook(nullptr);
    EXPECT_EQ(WorkersStarted(), 1);
    EXPECT_EQ(downloadState.arrivalCount, 2);
    ASSERT_GE(linesDuringBox.size(), 2u);
    EXPECT_EQ(linesDuringBox[linesDuringBox.size() - 2], "-------1-------\n");
    EXPECT_EQ(linesDuringBox.back(), "-------2-------\n");
}

TEST_F(ArrivalTest, RemovalChangesNothing)
{
    auto device = PlugDevice(0x2563, 0x1818);
    ASSERT_TRUE(deviceLink->FindProtocol2Device());
    downloadState.mode = 3;
    downloadState.arrivalCount = 1;
    const platform::DeviceHandle handle = deviceLink->transferHandle;
    const std::size_t linesBefore = DebugLines().size();
    AnnounceArrival(device, 0x8004);
    EXPECT_EQ(downloadState.mode, 3);
    EXPECT_EQ(downloadState.busy, 0);
    EXPECT_EQ(downloadState.arrivalCount, 1);
    EXPECT_EQ(deviceLink->transferHandle, handle);
    EXPECT_EQ(DebugLines().size(), linesBefore);
}

TEST_F(ArrivalTest, ModeThreeWhoseReadWriteOpenFailsStartsNothing)
{
    auto device = PlugDevice(0x0461, 0x4D81);
    device->faults.readWriteOpenRefused = true;
    AnnounceArrival(device);
    EXPECT_EQ(WorkersStarted(), 0);
    EXPECT_EQ(firmwareBuffer.size, kLargeImageBufferSize);
    EXPECT_EQ(firmwareBuffer.blockCount, 3379u);
    EXPECT_EQ(deviceLink->transferHandle, platform::kInvalidHandle);
    EXPECT_EQ(downloadState.arrivalCount, 1);
    EXPECT_EQ(downloadState.busy, 0);
    EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(ArrivalTest, ThreadCreationFailureClearsBusyAndSaysSo)
{
    auto device = PlugDevice(0x0461, 0x4D81);
    sim::SetThreadCreationFails(true);
    AnnounceArrival(device);
    EXPECT_EQ(BoxTexts(), (Lines{"Download | Download Failture!"}));
    EXPECT_EQ(downloadState.busy, 0);
    sim::SetThreadCreationFails(false);
    AnnounceArrival(device);  // the watcher is not stuck
    ASSERT_TRUE(WaitForDownload());
    EXPECT_EQ(WorkersStarted(), 1);
}

TEST_F(ArrivalTest, NameIsReadOnlyWithinTheDeclaredSize)
{
    auto device = PlugDevice(0x2563, 0x1818);
    const std::string path = device->PathOf(1);
    const std::size_t cut = path.find("pid_1818") + 4;  // "...vid_2563&pid_" is inside, "1818" is not
    std::vector<std::uint8_t> record = sim::MakeInterfaceBroadcast(path);
    std::string upper = path;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::memcpy(record.data() + 28, upper.data(), upper.size());
    const std::uint32_t declared = static_cast<std::uint32_t>(28 + cut);
    std::memcpy(record.data(), &declared, sizeof declared);

    EXPECT_EQ(HandleDeviceArrival(0x8000, record.data()).action, ArrivalAction::None);
    EXPECT_EQ(WorkersStarted(), 0);  // "pid_1818" lies past the declared end: no match
    const std::string after(reinterpret_cast<const char*>(record.data()) + 28, upper.size());
    EXPECT_EQ(after.substr(0, cut), path.substr(0, cut));     // lowercased inside
    EXPECT_EQ(after.substr(cut), upper.substr(cut));          // untouched outside
    EXPECT_EQ(downloadState.arrivalCount, 1);
}

// A name that fills the record to the size it declares, with no terminator, in either layout: it
// is lowercased up to and including its last byte (here a letter) and matched.
TEST_F(ArrivalTest, NameThatEndsExactlyAtTheDeclaredSize)
{
    for (const sim::NameLayout layout : {sim::NameLayout::Ansi, sim::NameLayout::Wide}) {
        const bool wide = layout == sim::NameLayout::Wide;
        SCOPED_TRACE(wide ? "wide" : "ansi");
        sim::TraceOpen();
        sim::TraceKeepLines(true);
        auto device = PlugDevice(0x0461, 0x4D81);
        const std::string name = "\\\\?\\HID#VID_0461&PID_4D81#X";
        std::vector<std::uint8_t> record = sim::MakeInterfaceBroadcast(name, layout);
        record.resize(record.size() - (wide ? 2 : 1));  // no NUL: the record ends with the 'X'
        const std::uint32_t declared = static_cast<std::uint32_t>(record.size());
        std::memcpy(record.data(), &declared, sizeof declared);
        DialogDeviceChange(sim::kDialogWindow, 0x8000, record.data());
        EXPECT_EQ(record[record.size() - (wide ? 2 : 1)], 'x');
        ASSERT_TRUE(WaitForDownload());
        EXPECT_EQ(WorkersStarted(), 1);
        deviceLink->CloseDeviceLink();
        sim::ResetBus();
    }
}

// The shortest wide name: room for exactly one wide character, and no end within the declared
// size. The character is read and lowercased; the one past the declared size is neither.
TEST_F(ArrivalTest, WideNameOfOneCharacterWithoutItsEnd)
{
    std::vector<std::uint8_t> record = sim::MakeInterfaceBroadcast("AB", sim::NameLayout::Wide);
    const std::uint32_t declared = 28 + 2;
    std::memcpy(record.data(), &declared, sizeof declared);
    EXPECT_EQ(DialogDeviceChange(sim::kDialogWindow, 0x8000, record.data()), 1);
    EXPECT_EQ(record[28], 'a');
    EXPECT_EQ(record[30], 'B');
    EXPECT_EQ(downloadState.arrivalCount, 1);
    EXPECT_EQ(WorkersStarted(), 0);
}

TEST_F(ArrivalTest, DeviceChangeFilter)
{
    auto device = PlugDevice(0x2563, 0x1818);
    std::vector<std::uint8_t> record = sim::MakeInterfaceBroadcast(device->PathOf(1));
    EXPECT_EQ(DialogDeviceChange(sim::kDialogWindow, 0x0007, record.data()), 0);  // nodes changed
    EXPECT_EQ(DialogDeviceChange(sim::kDialogWindow, 0x0018, record.data()), 1);  // not a 0x8000 event
    EXPECT_EQ(DialogDeviceChange(sim::kDialogWindow, 0x8000, nullptr), 0);
    std::vector<std::uint8_t> volume = record;
    volume[4] = 2;
    EXPECT_EQ(DialogDeviceChange(sim::kDialogWindow, 0x8000, volume.data()), 1);
    // Records shorter than the 12-byte header, each in a block of exactly its size: nothing is
    // read past the size field (the sanitizer build would see it).
    for (std::uint32_t size = 4; size < 12; ++size) {
        auto shortRecord = std::make_unique<std::uint8_t[]>(size);
        std::memcpy(shortRecord.get(), &size, sizeof size);
        EXPECT_EQ(DialogDeviceChange(sim::kDialogWindow, 0x8000, shortRecord.get()), 1) << size;
    }
    EXPECT_EQ(downloadState.arrivalCount, 0);
    EXPECT_TRUE(DebugLines().empty());
    // A whole header but no room for a name: counted, nothing read past its end.
    for (std::uint32_t size = 12; size <= 29; ++size) {
        auto headerOnly = std::make_unique<std::uint8_t[]>(size);
        std::memcpy(headerOnly.get(), record.data(), size);
        std::memcpy(headerOnly.get(), &size, sizeof size);
        EXPECT_EQ(DialogDeviceChange(sim::kDialogWindow, 0x8000, headerOnly.get()), 1) << size;
    }
    EXPECT_EQ(downloadState.arrivalCount, 18);
    EXPECT_EQ(WorkersStarted(), 0);
}

// An arrival whose image cannot be loaded (here an empty resource) says so, and sends nothing.
// Its box comes once the notification has returned: a box shown while the dialog handles it
// would keep the system's notification waiting until the user dismissed it.
TEST_F(ArrivalTest, ImageThatCannotBeLoadedIsAFailedDownloadWithoutTraffic)
{
    auto device = PlugDevice(0x2563, 0x1818);
    const std::vector<std::uint8_t> empty;
    sim::OverrideImageResource(107, &empty);
    std::vector<std::uint8_t> record = sim::MakeInterfaceBroadcast(device->PathOf(1));
    DialogDeviceChange(sim::kDialogWindow, 0x8000, record.data());
    ASSERT_TRUE(WaitForDownload());
    EXPECT_TRUE(BoxTexts().empty());
    sim::DeliverPostedMessages();
    EXPECT_EQ(BoxTexts(), (Lines{"Download | Download Failture!"}));
    EXPECT_EQ(WorkersStarted(), 0);
    EXPECT_EQ(device->reportsSeen + device->repliesSeen, 0u);
    EXPECT_EQ(downloadState.busy, 0);
    EXPECT_TRUE(DialogMayClose());
}

}  // namespace
