// The USB topology walk against the simulated host controllers, hubs and devices.
#include <algorithm>
#include <cstring>

#include "device/usb_topology.h"
#include "usb_world.h"

namespace {

using platform::kIoctlUsbGetDescriptorFromNodeConnection;
using platform::kIoctlUsbGetNodeConnectionInformation;
using platform::kIoctlUsbGetNodeConnectionInformationEx;
using platform::kIoctlUsbGetNodeConnectionName;
using platform::kIoctlUsbGetNodeInformation;
using platform::kIoctlUsbGetRootHubName;

std::string HubName(int n)
{
    return "USB#VID_05E3&PID_0608#5&" + std::to_string(n) + "&0&2#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
}

// A string descriptor with the bytes as given, whatever they claim.
std::vector<std::uint8_t> RawString(std::uint8_t length, const std::string& asciiText, std::size_t extraBytes = 0)
{
    std::vector<std::uint8_t> d = {length, 3};
    for (char c : asciiText) {
        d.push_back(static_cast<std::uint8_t>(c));
        d.push_back(0);
    }
    d.resize(d.size() + extraBytes, 'x');
    return d;
}

class UsbTopologyTest : public UsbWorldTest {
protected:
    // Walks a root hub whose port 1 holds a device answering the identification request with
    // these descriptor bytes; returns the flag.
    int WalkWithIdentification(std::vector<std::uint8_t> reply)
    {
        auto device = sim::MakeUsbDevice(0x2563, 0x0575, "Oskel", "Pad");
        device->strings[{0xFF, 0x0036}] = std::move(reply);
        UseOneRootHub({PortWith(device)});
        UsbTopologyWalk();
        EXPECT_EQ(IdentificationRequests().size(), 1u);
        return downloadState.TopologyMatchFlag;
    }
};

TEST_F(UsbTopologyTest, NoHostControllerOpensEndsAtOnceWithoutMatch)
{
    sim::UsbTree tree;
    tree.controllers.push_back(sim::UsbController{3, true, sim::MakeUsbHub(kRootHubName, 2)});
    sim::SetUsbTree(tree);
    UsbTopologyWalk();
    EXPECT_EQ(downloadState.TopologyMatchFlag, 0);
    std::vector<std::string> expected;
    for (int n = 0; n < 10; ++n) expected.push_back("\\\\.\\HCD" + std::to_string(n));
    EXPECT_EQ(sim::UsbOpenAttempts(), expected);
    EXPECT_TRUE(sim::UsbRequests().empty());
    EXPECT_EQ(sim::UsbWalksEnded(), 1u);
    EXPECT_EQ(sim::TraceEvents("topology"), std::vector<std::string>{"topology match=0"});
}

TEST_F(UsbTopologyTest, RequestsAreTheHubDriversRecordsByteForByte)
{
    UseOneRootHub({PortWith(sim::MakeUsbDevice(0x2563, 0x0575, "Oskel", "Pad", "rq4180"))});
    UsbTopologyWalk();
    ASSERT_EQ(downloadState.TopologyMatchFlag, 1);

    // Node information shares the code of the root hub name request but goes to the hub.
    std::vector<sim::UsbRequestRecord> names, nodeInfo;
    for (const auto& r : RequestsWithCode(kIoctlUsbGetRootHubName)) (r.path == "\\\\.\\HCD0" ? names : nodeInfo).push_back(r);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0].path, "\\\\.\\HCD0");
    EXPECT_TRUE(names[0].input.empty());
    EXPECT_EQ(names[0].outputSize, 6u);
    const std::uint32_t actualLength = ReadLe32(names[0].output.data());
    EXPECT_EQ(actualLength, 4 + 2 * (std::strlen(kRootHubName) + 1));
    EXPECT_EQ(names[1].outputSize, actualLength);
    EXPECT_EQ(names[1].output.size(), actualLength);

    ASSERT_EQ(nodeInfo.size(), 1u);
    EXPECT_EQ(nodeInfo.back().path, std::string("\\\\.\\") + kRootHubName);
    EXPECT_EQ(nodeInfo.back().input, std::vector<std::uint8_t>(76, 0));
    EXPECT_EQ(nodeInfo.back().outputSize, 76u);

    const auto connection = RequestsWithCode(kIoctlUsbGetNodeConnectionInformationEx);
    ASSERT_EQ(connection.size(), 1u);
    std::vector<std::uint8_t> expectedConnection(365, 0);
    expectedConnection[0] = 1;
    EXPECT_EQ(connection[0].input, expectedConnection);
    EXPECT_EQ(connection[0].outputSize, 365u);
    EXPECT_TRUE(RequestsWithCode(kIoctlUsbGetNodeConnectionInformation).empty());

    const auto descriptors = RequestsWithCode(kIoctlUsbGetDescriptorFromNodeConnection);
    ASSERT_EQ(descriptors.size(), 3u);
    std::vector<std::uint8_t> head(21, 0);
    head[0] = 1;
    head[7] = 0x02;  // wValue 0x0200
    head[10] = 9;
    EXPECT_EQ(descriptors[0].input, head);
    EXPECT_EQ(descriptors[0].outputSize, 21u);
    const std::uint16_t total = ReadLe16(&descriptors[0].output[14]);
    EXPECT_EQ(descriptors[1].input.size(), 12u + total);
    EXPECT_EQ(ReadLe16(&descriptors[1].input[10]), total);
    std::vector<std::uint8_t> identification(267, 0);
    identification[0] = 1;
    identification[6] = 0xFF;
    identification[7] = 0x03;
    identification[8] = 0x36;
    identification[10] = 255;
    EXPECT_EQ(descriptors[2].input, identification);
    EXPECT_EQ(descriptors[2].outputSize, 267u);
    EXPECT_EQ(sim::TraceEvents("topology"), std::vector<std::string>{"topology match=1"});
}

TEST_F(UsbTopologyTest, HubWithoutPortsGetsNoPortRequest)
{
    auto root = UseOneRootHub({});
    UsbTopologyWalk();
    const auto nodeInfo = RequestsWithCode(kIoctlUsbGetNodeInformation);
    ASSERT_EQ(nodeInfo.size(), 3u);  // two root hub name requests share the code
    EXPECT_EQ(nodeInfo[2].path, std::string("\\\\.\\") + kRootHubName);
    EXPECT_EQ(nodeInfo[2].output.at(6), 0u);
    EXPECT_TRUE(RequestsWithCode(kIoctlUsbGetNodeConnectionInformationEx).empty());
    EXPECT_TRUE(RequestsWithCode(kIoctlUsbGetNodeConnectionInformation).empty());
    EXPECT_TRUE(RequestsWithCode(kIoctlUsbGetDescriptorFromNodeConnection).empty());
}

TEST_F(UsbTopologyTest, ExternalHubWithoutPortsGetsNoPortRequest)
{
    auto empty = sim::MakeUsbHub(HubName(1), 0);
    UseOneRootHub({PortWith(sim::MakeUsbHubDevice(empty))});
    UsbTopologyWalk();
    EXPECT_EQ(PortsAskedOf(kRootHubName), std::vector<std::uint32_t>{1});
    EXPECT_TRUE(PortsAskedOf(HubName(1)).empty());
    EXPECT_EQ(sim::UsbOpenAttempts().back(), "\\\\.\\HCD9");
    EXPECT_NE(std::find(sim::UsbOpenAttempts().begin(), sim::UsbOpenAttempts().end(), "\\\\.\\" + HubName(1)),
              sim::UsbOpenAttempts().end());
}

TEST_F(UsbTopologyTest, DeviceNamingNoStringIsNotAsked)
{
    UseOneRootHub({PortWith(SilentDevice({sim::HidInterfaceDescriptors()}))});
    UsbTopologyWalk();
    EXPECT_EQ(RequestsWithCode(kIoctlUsbGetDescriptorFromNodeConnection).size(), 2u);  // the configuration only
    EXPECT_TRUE(IdentificationRequests().empty());
    EXPECT_EQ(downloadState.TopologyMatchFlag, 0);
}

TEST_F(UsbTopologyTest, InterfaceStringBehindClassAndEndpointDescriptorsIsFound)
{
    UseOneRootHub({PortWith(SilentDevice({sim::HidInterfaceDescriptors(), sim::EndpointDescriptor(0x02, 3, 64, 4),
                                          sim::InterfaceDescriptor(1, 3, 5)}))});
    UsbTopologyWalk();
    EXPECT_EQ(IdentificationRequests().size(), 1u);
    EXPECT_EQ(downloadState.TopologyMatchFlag, 1);
}

TEST_F(UsbTopologyTest, ConfigurationStringIsFound)
{
    auto device = SilentDevice({sim::InterfaceDescriptor(0, 3, 0)});
    device->configuration = sim::ConfigurationSet({sim::InterfaceDescriptor(0, 3, 0)}, 4);
    UseOneRootHub({PortWith(device)});
    UsbTopologyWalk();
    EXPECT_EQ(IdentificationRequests().size(), 1u);
}

TEST_F(UsbTopologyTest, MalformedDescriptorBeforeTheStringEndsTheScan)
{
    // An interface descriptor of 10 bytes: neither 9 nor 12.
    std::vector<std::uint8_t> odd = sim::InterfaceDescriptor(0, 3, 0);
    odd.push_back(0);
    odd[0] = 10;
    UseOneRootHub({PortWith(SilentDevice({odd, sim::InterfaceDescriptor(1, 3, 5)}))});
    UsbTopologyWalk();
    EXPECT_TRUE(IdentificationRequests().empty());
}

TEST_F(UsbTopologyTest, StringReplyOfEighteenBytesWithLengthSixIsAccepted)
{
    // 12 header bytes and 6 descriptor bytes; the text is "rq", which matches nothing, but the
    // accepted reply is converted (one block more than a rejected one).
    auto device = sim::MakeUsbDevice(0x2563, 0x0575, "Oskel", "Pad");
    device->strings[{0xFF, 0x0036}] = RawString(6, "rq");
    UseOneRootHub({PortWith(device)});
    UsbTopologyWalk();
    const auto requests = IdentificationRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].output.size(), 18u);
    const std::uint32_t acceptedBlocks = sim::UsbBlocksAllocated();

    sim::ResetUsbTree();
    device->strings[{0xFF, 0x0036}] = RawString(7, "rq", 1);
    UseOneRootHub({PortWith(device)});
    UsbTopologyWalk();
    ASSERT_EQ(IdentificationRequests().at(0).output.size(), 19u);
    EXPECT_EQ(sim::UsbBlocksAllocated(), acceptedBlocks - 1);
}

TEST_F(UsbTopologyTest, MatchingTextInAcceptedReplySetsTheFlag)
{
    EXPECT_EQ(WalkWithIdentification(RawString(14, "rq4180")), 1);
}

TEST_F(UsbTopologyTest, OddLengthReplyIsRejected)
{
    // bLength 15 with 15 bytes returned (27 in all): odd.
    EXPECT_EQ(WalkWithIdentification(RawString(15, "rq4180", 1)), 0);
}

TEST_F(UsbTopologyTest, LengthNotTheBytesReturnedIsRejected)
{
    EXPECT_EQ(WalkWithIdentification(RawString(14, "rq4180", 2)), 0);  // 16 bytes, bLength 14
    sim::ResetUsbTree();
    EXPECT_EQ(WalkWithIdentification(RawString(20, "rq4180")), 0);  // 14 bytes, bLength 20
}

TEST_F(UsbTopologyTest, ReplyOfAnotherTypeIsRejected)
{
    std::vector<std::uint8_t> reply = RawString(14, "rq4180");
    reply[1] = 2;
    EXPECT_EQ(WalkWithIdentification(reply), 0);
}

TEST_F(UsbTopologyTest, ReplyCutShortOfItsHeaderIsRejected)
{
    EXPECT_EQ(WalkWithIdentification({1}), 0);
    sim::ResetUsbTree();
    EXPECT_EQ(WalkWithIdentification({}), 0);
}

TEST_F(UsbTopologyTest, LongestReplyIsReadWhole)
{
    // 254 bytes: 126 characters, the needle at the very end.
    std::string text(120, 'a');
    text += "RQ4180";
    EXPECT_EQ(WalkWithIdentification(RawString(254, text)), 1);
}

TEST_F(UsbTopologyTest, ReplyLongerThanAskedIsCutAndRejected)
{
    // The device's descriptor claims 255 bytes and has more; 255 are returned: odd.
    std::string text(130, 'b');
    EXPECT_EQ(WalkWithIdentification(RawString(255, text)), 0);
}

TEST_F(UsbTopologyTest, NeedlesMatchInAnyCase)
{
    for (const char* text : {"DRIM UPDATA2", "drim updata2", "Drim Updata2 pad", "x RQ4180", "rQ4180", "Rq4180z"}) {
        sim::ResetUsbTree();
        downloadState.TopologyMatchFlag = 0;
        EXPECT_EQ(WalkWithIdentification(sim::StringDescriptor(text)), 1) << text;
    }
    for (const char* text : {"rq418", "DRIM UPDATA 2", "DRIMUPDATA2", "rq 4180", "updata2"}) {
        sim::ResetUsbTree();
        downloadState.TopologyMatchFlag = 0;
        EXPECT_EQ(WalkWithIdentification(sim::StringDescriptor(text)), 0) << text;
    }
}

TEST_F(UsbTopologyTest, EmptyStringMatchesNothing)
{
    EXPECT_EQ(WalkWithIdentification({2, 3}), 0);
}

TEST_F(UsbTopologyTest, NonAsciiTextAroundTheNeedleStillMatches)
{
    EXPECT_EQ(WalkWithIdentification(sim::StringDescriptor("手柄 RQ4180 \xF0\x9F\x8E\xAE")), 1);
}

TEST_F(UsbTopologyTest, MissingIdentificationStringLeavesTheFlag)
{
    downloadState.TopologyMatchFlag = 0;
    UseOneRootHub({PortWith(sim::MakeUsbDevice(0x2563, 0x0575, "Oskel", "Pad"))});
    UsbTopologyWalk();
    const auto requests = IdentificationRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_FALSE(requests[0].succeeded);
    EXPECT_EQ(downloadState.TopologyMatchFlag, 0);
}

TEST_F(UsbTopologyTest, WalkNeverClearsTheFlag)
{
    downloadState.TopologyMatchFlag = 1;
    UseOneRootHub({PortWith(sim::MakeUsbDevice(0x2563, 0x0575, "Oskel", "Pad", "nothing"))});
    UsbTopologyWalk();
    EXPECT_EQ(downloadState.TopologyMatchFlag, 1);
}

TEST_F(UsbTopologyTest, OlderConnectionRequestStandsInForTheNewer)
{
    auto device = sim::MakeUsbDevice(0x2563, 0x0575, "Oskel", "Pad", "rq4180");
    device->newerRequestFails = true;
    device->speed = 0;
    UseOneRootHub({PortWith(device)});
    UsbTopologyWalk();
    const auto older = RequestsWithCode(kIoctlUsbGetNodeConnectionInformation);
    ASSERT_EQ(older.size(), 1u);
    EXPECT_EQ(older[0].outputSize, 365u);
    EXPECT_EQ(ReadLe32(older[0].input.data()), 1u);
    EXPECT_FALSE(RequestsWithCode(kIoctlUsbGetNodeConnectionInformationEx).at(0).succeeded);
    EXPECT_EQ(downloadState.TopologyMatchFlag, 1);  // the port was examined like any other
}

TEST_F(UsbTopologyTest, NewerConnectionReplyShortOfItsFixedPartGivesWayToTheOlder)
{
    // 35 bytes are the record without pipes, all that the walk reads; one byte fewer cuts
    // ConnectionStatus, and the older request is asked instead.
    for (const std::uint32_t bytes : {35u, 34u}) {
        sim::ResetUsbTree();
        downloadState.TopologyMatchFlag = 0;
        auto device = sim::MakeUsbDevice(0x2563, 0x0575, "Oskel", "Pad", "rq4180");
        device->newerReplyBytes = bytes;
        UseOneRootHub({PortWith(device)});
        UsbTopologyWalk();
        EXPECT_EQ(RequestsWithCode(kIoctlUsbGetNodeConnectionInformationEx).at(0).output.size(), bytes);
        EXPECT_EQ(RequestsWithCode(kIoctlUsbGetNodeConnectionInformation).size(), bytes < 35 ? 1u : 0u)
            << bytes << " bytes";
        EXPECT_EQ(downloadState.TopologyMatchFlag, 1) << bytes << " bytes";
    }
}

// Whether the newer request fails or answers short with bytes of no meaning, the record is the
// older answer's, its connection index included.
TEST_F(UsbTopologyTest, OlderConnectionRecordIsCopiedFieldByField)
{
    for (const bool newerFails : {true, false})
    for (const std::uint8_t speed : {std::uint8_t{0}, std::uint8_t{1}, std::uint8_t{2}}) {
        SCOPED_TRACE(::testing::Message() << (newerFails ? "newer request fails" : "newer reply garbled")
                                          << ", speed " << int(speed));
        sim::ResetUsbTree();
        auto device = sim::MakeUsbDevice(0x2563, 0x0575, "Oskel", "Pad");
        device->newerRequestFails = newerFails;
        device->newerReplyBytes = 34;
        device->newerReplyGarbled = true;
        device->speed = speed;
        device->address = 9;
        UseOneRootHub({sim::UsbPort{}, PortWith(device)});
        const auto hub = platform::UsbOpenNode(std::string("\\\\.\\") + kRootHubName).handle;
        ASSERT_NE(hub, platform::kInvalidHandle);
        std::vector<std::uint8_t> connection(365, 0xEE);
        ASSERT_TRUE(ReadPortConnection(hub, 2, connection.data()));
        platform::UsbCloseNode(hub);

        const std::vector<std::uint8_t> older = RequestsWithCode(kIoctlUsbGetNodeConnectionInformation).at(0).output;
        ASSERT_EQ(older.size(), 35u + 11u);  // one pipe
        EXPECT_EQ(ReadLe32(&connection[0]), 2u);
        EXPECT_TRUE(std::equal(older.begin() + 4, older.begin() + 23, connection.begin() + 4));
        EXPECT_EQ(connection[23], speed == 0 ? 0 : 1) << "speed " << int(speed);
        EXPECT_TRUE(std::equal(older.begin() + 24, older.end(), connection.begin() + 24));
        EXPECT_EQ(ReadLe16(&connection[25]), 9u);
        EXPECT_EQ(ReadLe32(&connection[31]), 1u);
        // The older record was zero-filled beyond the reply, and all 330 pipe bytes are copied.
        EXPECT_TRUE(std::all_of(connection.begin() + 46, connection.end(), [](auto b) { return b == 0; }));
        EXPECT_EQ(sim::UsbLiveBlockCount(), 0);
    }
}

TEST_F(UsbTopologyTest, PortNeitherRequestCanReadIsPassedOver)
{
    auto root = UseOneRootHub({PortWith(sim::MakeUsbDevice(1, 2, "A", "B", "rq4180")),
                               PortWith(sim::MakeUsbDevice(1, 2, "A", "B", "rq4180"))});
    root->ports[0].unreadable = true;
    UsbTopologyWalk();
    EXPECT_EQ(PortsAskedOf(kRootHubName), (std::vector<std::uint32_t>{1, 2}));
    const auto older = RequestsWithCode(kIoctlUsbGetNodeConnectionInformation);
    ASSERT_EQ(older.size(), 1u);
    EXPECT_EQ(ReadLe32(older[0].input.data()), 1u);
    EXPECT_EQ(IdentificationRequests().size(), 1u);  // port 2 only
    EXPECT_EQ(downloadState.TopologyMatchFlag, 1);
}

TEST_F(UsbTopologyTest, HubOnPortTwoIsWalkedBeforePortThree)
{
    auto below = sim::MakeUsbHub(HubName(7), 3);
    below->ports[1].device = sim::MakeUsbDevice(1, 2, "A", "B");
    UseOneRootHub({PortWith(sim::MakeUsbDevice(3, 4, "C", "D")), PortWith(sim::MakeUsbHubDevice(below)),
                   PortWith(sim::MakeUsbDevice(5, 6, "E", "F"))});
    UsbTopologyWalk();
    std::vector<std::string> order;
    for (const auto& r : RequestsWithCode(kIoctlUsbGetNodeConnectionInformationEx)) {
        order.push_back((r.path == "\\\\.\\" + HubName(7) ? "below " : "root ") + std::to_string(ReadLe32(r.input.data())));
    }
    EXPECT_EQ(order, (std::vector<std::string>{"root 1", "root 2", "below 1", "below 2", "below 3", "root 3"}));
    const auto names = RequestsWithCode(kIoctlUsbGetNodeConnectionName);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0].outputSize, 10u);
    EXPECT_EQ(ReadLe32(names[0].input.data()), 2u);
    EXPECT_EQ(names[1].outputSize, ReadLe32(&names[0].output[4]));
}

TEST_F(UsbTopologyTest, FirstConnectionNameReplyMustHoldActualLength)
{
    // A driver that answers the fixed-size name record with only the fields that fit: 8 bytes
    // hold ConnectionIndex and ActualLength, all that the first request is for; 7 cut
    // ActualLength, and the hub on the port is not walked.
    for (const std::uint32_t bytes : {8u, 7u}) {
        sim::ResetUsbTree();
        downloadState.TopologyMatchFlag = 0;
        auto below = sim::MakeUsbHub(HubName(3), 1);
        below->ports[0].device = sim::MakeUsbDevice(1, 2, "A", "B", "rq4180");
        auto root = UseOneRootHub({PortWith(sim::MakeUsbHubDevice(below))});
        root->ports[0].shortNameReplyBytes = bytes;
        UsbTopologyWalk();
        const auto names = RequestsWithCode(kIoctlUsbGetNodeConnectionName);
        ASSERT_FALSE(names.empty());
        EXPECT_EQ(names[0].output.size(), bytes);
        const bool accepted = bytes == 8;
        EXPECT_EQ(names.size(), accepted ? 2u : 1u) << bytes << " bytes";
        EXPECT_EQ(PortsAskedOf(HubName(3)).size(), accepted ? 1u : 0u) << bytes << " bytes";
        EXPECT_EQ(downloadState.TopologyMatchFlag, accepted ? 1 : 0) << bytes << " bytes";
        EXPECT_EQ(sim::UsbLiveBlockCount(), 0) << bytes << " bytes";
    }
}

TEST_F(UsbTopologyTest, PortWithoutConnectedDeviceIsNotAskedForDescriptors)
{
    auto root = UseOneRootHub({sim::UsbPort{}, PortWith(sim::MakeUsbDevice(1, 2, "A", "B", "rq4180"))});
    root->ports[1].status = 2;  // failed enumeration
    UsbTopologyWalk();
    EXPECT_EQ(PortsAskedOf(kRootHubName), (std::vector<std::uint32_t>{1, 2}));
    EXPECT_TRUE(RequestsWithCode(kIoctlUsbGetDescriptorFromNodeConnection).empty());
    EXPECT_EQ(downloadState.TopologyMatchFlag, 0);
}

TEST_F(UsbTopologyTest, ConfigurationThatChangesItsLengthIsDropped)
{
    auto device = sim::MakeUsbDevice(1, 2, "A", "B", "rq4180");
    device->laterTotalLength = static_cast<std::uint16_t>(device->configuration.size() + 1);
    UseOneRootHub({PortWith(device)});
    UsbTopologyWalk();
    EXPECT_EQ(RequestsWithCode(kIoctlUsbGetDescriptorFromNodeConnection).size(), 2u);
    EXPECT_TRUE(IdentificationRequests().empty());
    EXPECT_EQ(downloadState.TopologyMatchFlag, 0);
}

TEST_F(UsbTopologyTest, ConfigurationShorterThanItsDeclaredLengthIsDropped)
{
    auto device = sim::MakeUsbDevice(1, 2, "A", "B", "rq4180");
    WriteLe16(&device->configuration[2], static_cast<std::uint16_t>(device->configuration.size() + 20));
    UseOneRootHub({PortWith(device)});
    UsbTopologyWalk();
    const auto descriptors = RequestsWithCode(kIoctlUsbGetDescriptorFromNodeConnection);
    ASSERT_EQ(descriptors.size(), 2u);
    EXPECT_EQ(descriptors[1].outputSize, 12u + device->configuration.size() + 20);
    EXPECT_TRUE(IdentificationRequests().empty());
}

TEST_F(UsbTopologyTest, ConfigurationBelowNineBytesIsNotReadWhole)
{
    auto device = sim::MakeUsbDevice(1, 2, "A", "B", "rq4180");
    WriteLe16(&device->configuration[2], 8);
    UseOneRootHub({PortWith(device)});
    UsbTopologyWalk();
    EXPECT_EQ(RequestsWithCode(kIoctlUsbGetDescriptorFromNodeConnection).size(), 1u);
    EXPECT_EQ(downloadState.TopologyMatchFlag, 0);
}

TEST_F(UsbTopologyTest, ShortFirstConfigurationReplyIsDropped)
{
    auto device = sim::MakeUsbDevice(1, 2, "A", "B", "rq4180");
    device->configuration.resize(8);
    UseOneRootHub({PortWith(device)});
    UsbTopologyWalk();
    EXPECT_EQ(RequestsWithCode(kIoctlUsbGetDescriptorFromNodeConnection).size(), 1u);
}

TEST_F(UsbTopologyTest, MatchDoesNotEndTheWalk)
{
    auto root = UseOneRootHub({PortWith(sim::MakeUsbDevice(1, 2, "A", "B", "rq4180")),
                               PortWith(sim::MakeUsbDevice(1, 2, "A", "B", "other"))});
    UsbTopologyWalk();
    EXPECT_EQ(IdentificationRequests().size(), 2u);
    EXPECT_EQ(downloadState.TopologyMatchFlag, 1);
}

TEST_F(UsbTopologyTest, UnnamedOrUnopenableRootHubSkipsOnlyItsController)
{
    sim::UsbTree tree;
    tree.controllers.push_back(sim::UsbController{0, false, nullptr});
    auto closed = sim::MakeUsbHub("USB#ROOT_HUB#closed", 1);
    closed->openFails = true;
    tree.controllers.push_back(sim::UsbController{1, false, closed});
    auto root = sim::MakeUsbHub(kRootHubName, 1);
    root->ports[0].device = sim::MakeUsbDevice(1, 2, "A", "B", "DRIM UPDATA2");
    tree.controllers.push_back(sim::UsbController{9, false, root});
    sim::SetUsbTree(tree);
    UsbTopologyWalk();
    EXPECT_EQ(downloadState.TopologyMatchFlag, 1);
    EXPECT_EQ(sim::UsbWalksEnded(), 1u);
    EXPECT_EQ(sim::TraceEvents("topology"), std::vector<std::string>{"topology match=1"});
}

TEST_F(UsbTopologyTest, TenControllersWithNestedHubsReleaseEverything)
{
    sim::UsbTree tree;
    int devices = 0;
    for (int n = 0; n < 10; ++n) {
        auto root = sim::MakeUsbHub("USB#ROOT_HUB20#" + std::to_string(n), 4);
        root->ports[0].device = sim::MakeUsbDevice(0x1000, static_cast<std::uint16_t>(n), "M", "P", "x");
        auto upper = root;
        for (int depth = 0; depth < n; ++depth) {  // a chain of n hubs below port 3
            auto hub = sim::MakeUsbHub(HubName(n * 100 + depth), 2);
            hub->ports[0].device = sim::MakeUsbDevice(0x2000, static_cast<std::uint16_t>(depth), "M", "", "y");
            ++devices;
            upper->ports[depth == 0 ? 2 : 1].device = sim::MakeUsbHubDevice(hub);
            upper = hub;
        }
        ++devices;
        tree.controllers.push_back(sim::UsbController{n, false, root});
    }
    tree.controllers[9].rootHub->ports[3].device = sim::MakeUsbDevice(0x2563, 0x0575, "Oskel", "Pad", "rq4180");
    sim::SetUsbTree(tree);
    UsbTopologyWalk();
    EXPECT_EQ(downloadState.TopologyMatchFlag, 1);
    EXPECT_EQ(sim::UsbControllerOpenAttempts(), 10u);
    // Every device names a string; hubs do too.
    EXPECT_EQ(IdentificationRequests().size(), static_cast<std::size_t>(devices + 1 + 45));
    EXPECT_GT(sim::UsbBlocksAllocated(), 300u);
    // Depth first, each block released when its step is done: at the deepest point (nine hubs
    // below HCD9) the root hub holds its node information, each of the nine ports with a hub on
    // it holds its connection record, configuration set, string reply (the hubs have no
    // identification string, so no converted text), the hub's name and the hub's node
    // information, and the device at the bottom holds four blocks.
    EXPECT_EQ(sim::UsbPeakBlockCount(), 1 + 9 * 5 + 4);
}

TEST_F(UsbTopologyTest, EveryAllocationFailureIsSurvivedWithoutLeaks)
{
    auto build = [] {
        auto below = sim::MakeUsbHub(HubName(1), 2);
        below->ports[1].device = sim::MakeUsbDevice(1, 2, "A", "B", "rq4180");
        auto legacy = sim::MakeUsbDevice(1, 2, "A", "B", "z");
        legacy->newerRequestFails = true;
        UseOneRootHub({PortWith(legacy), PortWith(sim::MakeUsbHubDevice(below)),
                       PortWith(sim::MakeUsbDevice(1, 2, "A", "B", "DRIM UPDATA2"))});
    };
    build();
    UsbTopologyWalk();
    const std::uint32_t allocations = sim::UsbBlocksAllocated();
    ASSERT_GT(allocations, 15u);
    for (std::uint32_t nth = 1; nth <= allocations; ++nth) {
        sim::ResetUsbTree();
        build();
        sim::SetUsbBlockAllocationFailure(nth);
        downloadState.TopologyMatchFlag = 0;
        UsbTopologyWalk();
        EXPECT_EQ(sim::UsbOpenHandleCount(), 0) << "allocation " << nth;
        EXPECT_EQ(sim::UsbLiveBlockCount(), 0) << "allocation " << nth;
        EXPECT_EQ(sim::UsbBadBlockReleases(), 0u) << "allocation " << nth;
        EXPECT_EQ(sim::UsbWalksEnded(), 1u);
    }
}

TEST_F(UsbTopologyTest, FailedConnectionRecordEndsThatHubsPortsOnly)
{
    sim::UsbTree tree;
    for (int n = 0; n < 2; ++n) {
        auto root = sim::MakeUsbHub("USB#ROOT_HUB#" + std::to_string(n), 2);
        root->ports[0].device = sim::MakeUsbDevice(1, 2, "A", "B");
        root->ports[1].device = sim::MakeUsbDevice(1, 2, "A", "B", "rq4180");
        tree.controllers.push_back(sim::UsbController{n, false, root});
    }
    sim::SetUsbTree(tree);
    // Allocations: the name record, the name text, node information, then the connection
    // record of port 1 of HCD0's root hub.
    sim::SetUsbBlockAllocationFailure(4);
    UsbTopologyWalk();
    EXPECT_TRUE(PortsAskedOf("USB#ROOT_HUB#0").empty());
    EXPECT_EQ(PortsAskedOf("USB#ROOT_HUB#1"), (std::vector<std::uint32_t>{1, 2}));
    EXPECT_EQ(downloadState.TopologyMatchFlag, 1);
}

TEST_F(UsbTopologyTest, HubThatNeverAnswersHoldsTheWalkForOneRequestOnly)
{
    // Port 1 of HCD0's root hub holds a hub whose requests never complete; port 2 and HCD5 still
    // get their turn, and the match behind HCD5 is found.
    auto silent = sim::MakeUsbHub(HubName(1), 1);
    silent->answering = sim::UsbAnswering::kNever;
    silent->ports[0].device = sim::MakeUsbDevice(1, 2, "A", "B", "rq4180");
    auto root = sim::MakeUsbHub(kRootHubName, 2);
    root->ports[0].device = sim::MakeUsbHubDevice(silent);
    root->ports[1].device = sim::MakeUsbDevice(3, 4, "C", "D", "other");
    auto other = sim::MakeUsbHub("USB#ROOT_HUB#other", 1);
    other->ports[0].device = sim::MakeUsbDevice(5, 6, "E", "F", "DRIM UPDATA2");
    sim::UsbTree tree;
    tree.controllers.push_back(sim::UsbController{0, false, root});
    tree.controllers.push_back(sim::UsbController{5, false, other});
    sim::SetUsbTree(tree);

    const std::uint32_t before = sim::UsbDriverClock();
    UsbTopologyWalk();
    EXPECT_EQ(sim::UsbDriverClock() - before, kUsbRequestLimitMs);
    std::vector<sim::UsbRequestRecord> unanswered;
    for (const auto& r : sim::UsbRequests()) {
        if (r.neverAnswered) unanswered.push_back(r);
    }
    ASSERT_EQ(unanswered.size(), 1u);
    EXPECT_EQ(unanswered[0].path, "\\\\.\\" + HubName(1));
    EXPECT_EQ(unanswered[0].code, kIoctlUsbGetNodeInformation);
    EXPECT_EQ(PortsAskedOf(kRootHubName), (std::vector<std::uint32_t>{1, 2}));
    EXPECT_EQ(IdentificationRequests().size(), 3u);  // the hub device, the device on port 2, HCD5's
    EXPECT_EQ(downloadState.TopologyMatchFlag, 1);
    EXPECT_FALSE(UsbWalkRanOutOfTime());
    EXPECT_EQ(sim::UsbWalksEnded(), 1u);
}

TEST_F(UsbTopologyTest, HubNamesLeadingBackUpTheTreeEndTheWalk)
{
    // A driver whose hubs on ports 1 and 2 bear the root hub's own name: a walk that followed
    // them would branch twice at every level and never end.
    auto root = sim::MakeUsbHub(kRootHubName, 2);
    root->ports[0].device = sim::MakeUsbHubDevice(sim::MakeUsbHub(kRootHubName, 1));
    root->ports[1].device = sim::MakeUsbHubDevice(sim::MakeUsbHub(kRootHubName, 1));
    auto other = sim::MakeUsbHub("USB#ROOT_HUB#other", 1);
    other->ports[0].device = sim::MakeUsbDevice(1, 2, "A", "B", "rq4180");
    sim::UsbTree tree;
    tree.controllers.push_back(sim::UsbController{0, false, root});
    tree.controllers.push_back(sim::UsbController{1, false, other});
    sim::SetUsbTree(tree);
    UsbTopologyWalk();
    // No more than the 127 hubs a bus can hold below the root hub: the root hub and 127 more.
    const auto nodeInfo = RequestsWithCode(kIoctlUsbGetNodeInformation);
    EXPECT_EQ(std::count_if(nodeInfo.begin(), nodeInfo.end(),
                            [](const auto& r) { return r.path == std::string("\\\\.\\") + kRootHubName; }),
              128);
    EXPECT_EQ(downloadState.TopologyMatchFlag, 1);  // the next controller is still walked
    EXPECT_EQ(sim::UsbWalksEnded(), 1u);
}

TEST_F(UsbTopologyTest, DeepChainOfHubsIsWalkedToTheBottom)
{
    auto root = sim::MakeUsbHub(kRootHubName, 1);
    auto upper = root;
    for (int depth = 0; depth < 40; ++depth) {
        auto hub = sim::MakeUsbHub(HubName(depth), 1);
        upper->ports[0].device = sim::MakeUsbHubDevice(hub);
        upper = hub;
    }
    upper->ports[0].device = sim::MakeUsbDevice(1, 2, "A", "B", "rq4180");
    sim::UsbTree tree;
    tree.controllers.push_back(sim::UsbController{4, false, root});
    sim::SetUsbTree(tree);
    UsbTopologyWalk();
    EXPECT_EQ(downloadState.TopologyMatchFlag, 1);
}

TEST_F(UsbTopologyTest, WideToAnsiGivesTheTextInAZeroFilledBlock)
{
    const char16_t text[] = {u'h', u'\u00e9', 0xD83C, 0xDFAE, 0xD800, u'!', 0};
    char* converted = WideToAnsi(text);
    ASSERT_NE(converted, nullptr);
    EXPECT_STREQ(converted, "h\xC3\xA9\xF0\x9F\x8E\xAE\xEF\xBF\xBD!");
    EXPECT_EQ(sim::UsbLiveBlockCount(), 1);
    platform::GlobalBlockFree(converted);

    const char16_t empty[] = {0};
    converted = WideToAnsi(empty);
    ASSERT_NE(converted, nullptr);
    EXPECT_STREQ(converted, "");
    platform::GlobalBlockFree(converted);

    sim::SetUsbBlockAllocationFailure(1);
    EXPECT_EQ(WideToAnsi(text), nullptr);
}

}  // namespace
