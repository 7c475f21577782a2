// The finders against the simulated bus: acceptance, usage tests, diagnostic lines, handles.
#include "tests/test_world.h"

#include <algorithm>
#include <iterator>
#include <set>
#include <utility>

#include "platform/hid.h"

namespace {

using Lines = std::vector<std::string>;

const Lines kCapsLines = {"Device detected", "HidD_GetPreparsedData: ", "HidP_GetCaps: ",
                          "HidD_FreePreparsedData: "};

// The line of a read-write open that the system refuses because it holds the collection itself.
std::string HeldBySystemLine(const std::string& path)
{
    return path + ": CreateFile for reading and writing: error 5 (Access is denied.)";
}

Lines Concat(std::initializer_list<Lines> parts)
{
    Lines all;
    for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

class DeviceLinkTest : public WorldTest {};

TEST_F(DeviceLinkTest, NoInterfacesAtAll)
{
    DeviceLink& link = *deviceLink;
    EXPECT_FALSE(link.FindSupportedDevice());
    EXPECT_FALSE(link.FindProtocol1Device());
    EXPECT_FALSE(link.FindProtocol2Device());
    EXPECT_FALSE(link.FindProtocol3Device());
    Lines expected;
    for (int i = 0; i < 4; ++i) expected.insert(expected.end(), {"Device not detected", "SetupDiDestroyDeviceInfoList"});
    EXPECT_EQ(DebugLines(), expected);
    EXPECT_EQ(link.transferHandle, platform::kInvalidHandle);
    EXPECT_EQ(link.supportedHandle, platform::kInvalidHandle);
    EXPECT_EQ(sim::OpenHandleCount(), 0);
}

TEST_F(DeviceLinkTest, EnumerationFailureFindsNothing)
{
    PlugDevice(0x045E, 0x028E);
    sim::SetEnumerationFails(true);
    EXPECT_FALSE(deviceLink->FindSupportedDevice());
    EXPECT_EQ(DebugLines(), (Lines{"Device not detected", "SetupDiDestroyDeviceInfoList"}));
}

TEST_F(DeviceLinkTest, SupportedControllerIsAcceptedBeforeUpdateModeOneDevice)
{
    for (bool updateModeFirst : {true, false}) {
        SCOPED_TRACE(updateModeFirst);
        sim::ResetBus();
        std::shared_ptr<models::HidDevice> controller;
        std::shared_ptr<models::HidDevice> mode1;
        if (updateModeFirst) mode1 = PlugDevice(0x2563, 0x0059);
        controller = PlugDevice(0x2563, 0x0002);
        if (!updateModeFirst) mode1 = PlugDevice(0x2563, 0x0059);
        ASSERT_TRUE(deviceLink->FindSupportedDevice());
        EXPECT_EQ(sim::DeviceOfHandle(deviceLink->supportedHandle), controller);
        EXPECT_EQ(downloadState.UpdateModeFlag, 0);
        deviceLink->CloseDeviceLink();
    }
}

// Every controller of the supported table, and pairs one digit or one row away from it, or in an
// empty place of its row (product 0).
TEST_F(DeviceLinkTest, SupportedTableHoldsEveryListedPairAndNoOther)
{
    const std::pair<std::uint16_t, std::uint16_t> listed[] = {
        {0x045E, 0x028E}, {0x054C, 0x0CDA}, {0x054C, 0x05C4}, {0x054C, 0x0268}, {0x2563, 0x1818},
        {0x2563, 0x0002}, {0x2563, 0x0001}, {0x2563, 0x0555}, {0x2563, 0x058D}, {0x2563, 0x0516},
        {0x0079, 0x1843}, {0x0079, 0x954E}, {0x0079, 0x1846}, {0x20BC, 0x5500}, {0x20BC, 0x5503},
        {0x2E24, 0x0BFF}, {0x0738, 0x0303}, {0x057E, 0x2009}, {0x0F0D, 0x00F6}, {0x0488, 0x572A},
        {0x0461, 0x4D81},
    };
    const std::set<std::pair<std::uint16_t, std::uint16_t>> all(std::begin(listed), std::end(listed));
    const auto expectRejected = [&](std::uint16_t vendor, std::uint16_t product) {
        if (all.count({vendor, product}) == 0) {
            EXPECT_FALSE(IsInSupportedDeviceTable(vendor, product)) << std::hex << vendor << ":" << product;
        }
    };
    for (auto [vendor, product] : listed) {
        EXPECT_TRUE(IsInSupportedDeviceTable(vendor, product)) << std::hex << vendor << ":" << product;
        for (int shift = 0; shift < 16; shift += 4) {
            expectRejected(static_cast<std::uint16_t>(vendor ^ (1u << shift)), product);
            expectRejected(vendor, static_cast<std::uint16_t>(product ^ (1u << shift)));
        }
        for (const auto& other : listed) expectRejected(other.first, product);
        expectRejected(vendor, 0x0000);
    }
}

TEST_F(DeviceLinkTest, ExpectedPairIsAcceptedAndLeavesTheFlag)
{
    PlugDevice(0x2563, 0x0575);
    downloadState.UpdateModeFlag = 0;
    EXPECT_TRUE(deviceLink->FindSupportedDevice());
    EXPECT_EQ(downloadState.UpdateModeFlag, 0);
    EXPECT_TRUE(IsInSupportedDeviceTable(0x054C, 0x05C4));
    EXPECT_FALSE(IsInSupportedDeviceTable(0x2563, 0x0575));  // accepted through the expected pair only
    EXPECT_FALSE(IsInSupportedDeviceTable(0x2563, 0x0059));
    EXPECT_FALSE(IsInSupportedDeviceTable(0x045E, 0x0268));  // product of another vendor's row
}

TEST_F(DeviceLinkTest, UpdateModeControllersSetTheFlag)
{
    for (auto [vendor, product] : {std::pair<std::uint16_t, std::uint16_t>{0x2563, 0x1818}, {0x0461, 0x4D81}}) {
        sim::ResetBus();
        downloadState.UpdateModeFlag = 0;
        PlugCollections(vendor, product, {{0xFF00, 0x0001}});
        EXPECT_TRUE(deviceLink->FindSupportedDevice());
        EXPECT_EQ(downloadState.UpdateModeFlag, 1);
        deviceLink->CloseDeviceLink();
    }
    // Any other pair leaves a set flag alone.
    sim::ResetBus();
    PlugDevice(0x057E, 0x2009);
    EXPECT_TRUE(deviceLink->FindSupportedDevice());
    EXPECT_EQ(downloadState.UpdateModeFlag, 1);
}

TEST_F(DeviceLinkTest, FirstOfTwoControllersIsAcceptedAndTheSecondNeverOpened)
{
    auto first = PlugDevice(0x0079, 0x1843);
    auto second = PlugDevice(0x0F0D, 0x00F6);
    EXPECT_TRUE(deviceLink->FindSupportedDevice());
    EXPECT_EQ(sim::DeviceOfHandle(deviceLink->supportedHandle), first);
    for (const std::string& line : sim::TraceEvents("open")) {
        EXPECT_EQ(line.find(second->PathOf(0)), std::string::npos) << line;
    }
}

TEST_F(DeviceLinkTest, VendorCollectionIsRequiredForProtocols1And2)
{
    const std::pair<std::uint16_t, bool (DeviceLink::*)()> finders[] = {
        {0x0059, &DeviceLink::FindProtocol1Device}, {0x1818, &DeviceLink::FindProtocol2Device}};
    for (auto [product, finder] : finders) {
        SCOPED_TRACE(product);
        sim::ResetBus();
        sim::ResetDialogView();
        sim::TraceOpen();
        auto device = PlugCollections(0x2563, product, {{0x0001, 0x0006}, {0xFF00, 0x0002}, {0xFF00, 0x0001}});
        ASSERT_TRUE((deviceLink->*finder)());
        EXPECT_EQ(DebugLines(), Concat({kCapsLines, {"This device is a system keyboard"}, kCapsLines, kCapsLines,
                                        {"Device detected", "SetupDiDestroyDeviceInfoList"}}));
        // Only the vendor-defined collection was opened for reading and writing.
        EXPECT_EQ(sim::TraceEvents("open"),
                  (Lines{"open probe ok " + device->PathOf(0), "open probe ok " + device->PathOf(1),
                         "open probe ok " + device->PathOf(2), "open rw ok " + device->PathOf(2)}));
        EXPECT_EQ(sim::OpenHandleCount(), 2);  // the probe handle of the accepted one and the transfer handle
        deviceLink->CloseDeviceLink();
    }
}

TEST_F(DeviceLinkTest, Protocol3TakesTheFirstCollectionWhateverItsUsage)
{
    auto device = PlugCollections(0x0461, 0x4D81, {{0x0001, 0x0005}, {0xFF00, 0x0001}});
    ASSERT_TRUE(deviceLink->FindProtocol3Device());
    EXPECT_EQ(DebugLines(), Concat({kCapsLines, {"Device detected", "SetupDiDestroyDeviceInfoList"}}));
    EXPECT_EQ(sim::TraceEvents("open rw").at(0), "open rw ok " + device->PathOf(0));
}

// The system holds keyboards and mice for itself: their read-write open fails, and the finder
// goes on to the next collection of the same device.
TEST_F(DeviceLinkTest, CollectionTheSystemHoldsIsPassedForTheNextOfTheSameDevice)
{
    for (const std::uint16_t usage : {0x0006, 0x0002}) {
        SCOPED_TRACE(usage);
        sim::ResetBus();
        sim::ResetDialogView();
        sim::TraceOpen();
        sim::TraceKeepLines(true);
        auto device = PlugCollections(0x0461, 0x4D81, {{0x0001, usage}, {0x0001, 0x0005}});
        ASSERT_TRUE(deviceLink->FindProtocol3Device());
        EXPECT_EQ(sim::DeviceOfHandle(deviceLink->transferHandle), device);
        EXPECT_EQ(sim::TraceEvents("open rw"),
                  (Lines{"open rw fail " + device->PathOf(0), "open rw ok " + device->PathOf(1)}));
        const char* note = usage == 0x0006 ? "This device is a system keyboard" : "This device is a system mouse";
        EXPECT_EQ(DebugLines(), Concat({kCapsLines, {note, HeldBySystemLine(device->PathOf(0))}, kCapsLines,
                                        {"Device detected", "SetupDiDestroyDeviceInfoList"}}));
        EXPECT_EQ(deviceLink->caps.Usage, 0x0005);
        EXPECT_EQ(sim::OpenHandleCount(), 2);  // the probe and the transfer handle of the second
        deviceLink->CloseDeviceLink();
    }
}

// Such a controller downloads by either road: Windows holds its keyboard interface, the finder
// takes its vendor collection.
TEST_F(DeviceLinkTest, ModeThreeControllerBehindAKeyboardDownloadsByEitherRoad)
{
    for (const sim::Road road : {sim::Road::Start, sim::Road::Arrival}) {
        SCOPED_TRACE(road == sim::Road::Start ? "Start" : "arrival");
        sim::ResetBus();
        auto device = models::MakeProtocol3DeviceBehindKeyboard();
        sim::Plug(device);
        const sim::Outcome outcome = sim::RunDownload(road, 3, device);
        EXPECT_EQ(outcome.ResultText(), "Download Successful!");
        EXPECT_TRUE(device->DownloadComplete());
        EXPECT_TRUE(device->protocolErrors.empty());
        EXPECT_EQ(device->stackRefusals, 0u);
        deviceLink->CloseDeviceLink();
    }
}

// A device that another program holds (every collection refused) is found without a handle, as
// the first refused collection left it; a second device is never taken in its place. The debugger
// output tells, for each collection, the operation that failed and the system's reason.
TEST_F(DeviceLinkTest, DeviceHeldByAnotherProgramIsFoundWithoutAHandle)
{
    auto held = PlugCollections(0x0461, 0x4D81, {{0x0001, 0x0005}, {0xFF00, 0x0001}});
    held->faults.readWriteOpenRefused = true;
    auto other = PlugDevice(0x045E, 0x028E);
    for (bool (DeviceLink::*finder)() : {&DeviceLink::FindProtocol3Device, &DeviceLink::FindSupportedDevice}) {
        sim::ResetDialogView();
        ASSERT_TRUE((deviceLink->*finder)());
        EXPECT_EQ(deviceLink->transferHandle, platform::kInvalidHandle);
        EXPECT_EQ(deviceLink->supportedHandle, platform::kInvalidHandle);
        EXPECT_EQ(sim::DeviceOfHandle(deviceLink->probeHandle), held);
        EXPECT_EQ(deviceLink->caps.Usage, 0x0005);  // the first collection's
        EXPECT_EQ(sim::OpenHandleCount(), 1);
        const Lines lines = DebugLines();
        for (std::size_t collection : {0u, 1u}) {
            const std::string why = held->PathOf(collection) + ": CreateFile for reading and writing: error 32 "
                                    "(The process cannot access the file because it is being used by another process.)";
            EXPECT_EQ(std::count(lines.begin(), lines.end(), why), 1) << why;
        }
    }
    EXPECT_EQ(downloadState.UpdateModeFlag, 1);
    for (const std::string& line : sim::TraceEvents("open rw")) EXPECT_EQ(line.find(other->PathOf(0)), std::string::npos) << line;
}

TEST_F(DeviceLinkTest, KeyboardNoteRejectsNothing)
{
    auto keyboard = PlugCollections(0x045E, 0x028E, {{0x0001, 0x0006}});
    EXPECT_TRUE(deviceLink->FindSupportedDevice());
    EXPECT_EQ(DebugLines(), Concat({kCapsLines, {"This device is a system keyboard", HeldBySystemLine(keyboard->PathOf(0)),
                                                 "Device detected", "SetupDiDestroyDeviceInfoList"}}));
}

TEST_F(DeviceLinkTest, RejectedCandidatesWriteNoLines)
{
    PlugDevice(0x1234, 0x5678);
    auto mode1 = PlugDevice(0x2563, 0x0059);
    EXPECT_FALSE(deviceLink->FindProtocol3Device());
    EXPECT_EQ(DebugLines(), (Lines{"Device not detected", "SetupDiDestroyDeviceInfoList"}));
    EXPECT_EQ(sim::OpenHandleCount(), 0);
}

// Each call walks the interfaces present then, each once, however many calls came before.
TEST_F(DeviceLinkTest, EveryCallWalksEachInterfaceOnce)
{
    PlugDevice(0x1234, 0x5678);
    EXPECT_FALSE(deviceLink->FindProtocol3Device());
    EXPECT_FALSE(deviceLink->FindProtocol3Device());
    EXPECT_EQ(sim::TraceEvents("open probe").size(), 2u);
}

TEST_F(DeviceLinkTest, UnidentifiableCandidatesAreSkipped)
{
    auto broken = PlugDevice(0x045E, 0x028E);
    broken->faults.probeOpenFails = true;
    auto mute = PlugDevice(0x054C, 0x0CDA);
    mute->faults.attributesUnreadable = true;
    auto good = PlugDevice(0x054C, 0x0268);
    EXPECT_TRUE(deviceLink->FindSupportedDevice());
    EXPECT_EQ(sim::DeviceOfHandle(deviceLink->supportedHandle), good);
    EXPECT_EQ(sim::OpenHandleCount(), 2);
}

TEST_F(DeviceLinkTest, UnreadableCapsNeverPassTheUsageTest)
{
    auto device = PlugCollections(0x2563, 0x1818, {{0xFF00, 0x0001}});
    device->faults.capsUnreadable = true;
    EXPECT_FALSE(deviceLink->FindProtocol2Device());
    EXPECT_EQ(deviceLink->transferHandle, platform::kInvalidHandle);
    EXPECT_EQ(sim::OpenHandleCount(), 0);
}

TEST_F(DeviceLinkTest, RepeatedFindersLeakNoHandle)
{
    PlugCollections(0x2563, 0x1818, {{0xFF00, 0x0001}});
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(deviceLink->FindSupportedDevice());
        ASSERT_TRUE(deviceLink->FindProtocol2Device());
    }
    // One probe handle (of the last accepted device), one supported and one transfer handle.
    EXPECT_EQ(sim::OpenHandleCount(), 3);
    deviceLink->CloseDeviceLink();
    EXPECT_EQ(sim::OpenHandleCount(), 0);
    EXPECT_FALSE(deviceLink->found);
}

TEST_F(DeviceLinkTest, FinderThatFindsNothingKeepsTheTransferHandle)
{
    PlugCollections(0x2563, 0x1818, {{0xFF00, 0x0001}});
    ASSERT_TRUE(deviceLink->FindProtocol2Device());
    const platform::DeviceHandle handle = deviceLink->transferHandle;
    EXPECT_FALSE(deviceLink->FindProtocol3Device());
    EXPECT_EQ(deviceLink->transferHandle, handle);
}

}  // namespace

namespace {

// Windows numbers the top-level collections of one device in the hardware id (&colNN) and in the
// instance id's last part; the Wine rig's nodes carry the collection in the hardware id only.
TEST(DeviceOfInterface, CollectionsOfOneDeviceAreOneDevice)
{
    const std::string col1 = "\\\\?\\HID#VID_046D&PID_C52B&MI_02&Col01#8&1a7b9f4&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    const std::string col2 = "\\\\?\\hid#vid_046d&pid_c52b&mi_02&col02#8&1a7b9f4&0&0001#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    const std::string other = "\\\\?\\hid#vid_046d&pid_c52b&mi_02&col01#8&2c0de11&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    EXPECT_EQ(DeviceOfInterface(col1), "\\\\?\\hid#vid_046d&pid_c52b&mi_02#8&1a7b9f4&0");
    EXPECT_EQ(DeviceOfInterface(col2), DeviceOfInterface(col1));
    EXPECT_NE(DeviceOfInterface(other), DeviceOfInterface(col1));
    EXPECT_EQ(DeviceOfInterface("\\\\?\\hid#vid_2563&pid_1818&col02#0000#{x}"),
              DeviceOfInterface("\\\\?\\hid#vid_2563&pid_1818&col01#0000#{x}"));
    EXPECT_EQ(DeviceOfInterface("/dev/hidraw3#vid_2563&pid_1818&col02"), "/dev/hidraw3#vid_2563&pid_1818");
}

}  // namespace
