// The simulated USB tree: its text form, its default, and Start walking it.
#include <fstream>

#include "app/dialog_logic.h"
#include "device/usb_topology.h"
#include "test_world.h"
#include "usb_world.h"

namespace {

class UsbTreeFileTest : public UsbWorldTest {
protected:
    static std::string ParseError(const std::string& text)
    {
        sim::UsbTree tree;
        std::string error;
        EXPECT_FALSE(sim::ParseUsbTree(text, tree, error)) << text;
        return error;
    }
};

TEST_F(UsbTreeFileTest, SampleFileDescribesItsTree)
{
    std::string error;
    ASSERT_TRUE(sim::LoadUsbTree(OSKEL_SOURCE_DIR "/tests/data/usb-tree-sample.txt", error)) << error;
    UsbTopologyWalk();
    EXPECT_EQ(downloadState.TopologyMatchFlag, 1);

    sim::UsbTree tree;
    std::ifstream file(OSKEL_SOURCE_DIR "/tests/data/usb-tree-sample.txt");
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_TRUE(sim::ParseUsbTree(text, tree, error)) << error;
    ASSERT_EQ(tree.controllers.size(), 3u);
    EXPECT_TRUE(tree.controllers[1].openFails);
    const auto& root = *tree.controllers[0].rootHub;
    EXPECT_EQ(root.name, "USB#ROOT_HUB20#4&2f3e1d0c&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}");
    ASSERT_EQ(root.ports.size(), 4u);
    EXPECT_EQ(root.ports[0].device->speed, 0);
    EXPECT_EQ(root.ports[0].device->strings.at({2, 0x0409}), sim::StringDescriptor("USB Optical Mouse"));
    const auto& hub = *root.ports[1].device->hub;
    ASSERT_EQ(hub.ports.size(), 4u);
    const auto& pad = *hub.ports[0].device;
    EXPECT_EQ(pad.deviceDescriptor[14] | pad.deviceDescriptor[15] | pad.deviceDescriptor[16], 0);
    // configuration, interface, HID, endpoint, interface, endpoint
    EXPECT_EQ(pad.configuration.size(), 9u + 9 + 9 + 7 + 9 + 7);
    EXPECT_EQ(ReadLe16(&pad.configuration[2]), pad.configuration.size());
    EXPECT_EQ(pad.configuration[4], 2);  // bNumInterfaces
    EXPECT_EQ(pad.configuration[34 + 8], 4);  // iInterface of the second interface
    EXPECT_EQ(pad.strings.at({4, 0x0409}), sim::StringDescriptor("Update interface"));
    EXPECT_TRUE(hub.ports[2].device->newerRequestFails);
    EXPECT_EQ(hub.ports[3].status, 2u);
    EXPECT_FALSE(hub.ports[3].device);
    EXPECT_TRUE(root.ports[2].device->hub->ports.empty());
    const auto& nic = *tree.controllers[2].rootHub->ports[1].device;
    EXPECT_EQ(nic.laterTotalLength, 100);
    EXPECT_EQ(nic.strings.at({0xFF, 0x0036}), (std::vector<std::uint8_t>{7, 3, 0x72, 0, 0x71, 0, 0x34, 0}));
}

TEST_F(UsbTreeFileTest, InterfaceOfTwelveBytesAndRawSets)
{
    sim::UsbTree tree;
    std::string error;
    ASSERT_TRUE(sim::ParseUsbTree("controller 0\n"
                                  "  root-hub name=R ports=2\n"
                                  "    port 1\n"
                                  "      device # a comment\n"
                                  "        interface length=12 string=\"I \\\"quoted\\\"\"\n"
                                  "    port 2\n"
                                  "      device descriptor=\"12 01 0002 00 00 00 40 3412 7856 0001 00 00 00 01\"\n"
                                  "        configuration-set hex=0902090001010080\n",
                                  tree, error))
        << error;
    const auto& first = *tree.controllers[0].rootHub->ports[0].device;
    EXPECT_EQ(first.configuration.size(), 21u);
    EXPECT_EQ(first.configuration[9], 12);
    EXPECT_EQ(first.strings.at({4, 0x0409}), sim::StringDescriptor("I \"quoted\""));
    const auto& second = *tree.controllers[0].rootHub->ports[1].device;
    EXPECT_EQ(second.deviceDescriptor[8], 0x34);
    EXPECT_EQ(second.configuration.size(), 8u);
}

TEST_F(UsbTreeFileTest, MistakesAreReportedWithTheirLine)
{
    EXPECT_EQ(ParseError("hub name=X\n"), "line 1: expected controller, found hub");
    EXPECT_EQ(ParseError("controller 0\n\troot-hub name=X\n"), "line 2: indent with spaces, not tabs");
    EXPECT_EQ(ParseError("controller 0\n  root-hub name=X ports=1\n    port 2\n"), "line 2: a port is numbered above ports=");
    EXPECT_EQ(ParseError("controller 0\n  root-hub name=X\n    port 1\n    port 1\n"), "line 4: port 1 given twice");
    EXPECT_EQ(ParseError("controller zero\n"), "line 1: not a number: zero");
    EXPECT_EQ(ParseError("controller 0\n  root-hub name=\"X\n"), "line 2: unterminated quoted text");
    EXPECT_EQ(ParseError("controller 0\n  root-hub ports=1\n"), "line 2: root-hub needs name=");
    EXPECT_EQ(ParseError("controller 0\n  root-hub name=X\n    port 1\n      device vdi=1\n"),
              "line 4: unknown attribute vdi of device");
    EXPECT_EQ(ParseError("controller 0\n  root-hub name=X\n    port 1\n      device\n"
                         "        string index=1 text=a hex=0203\n"),
              "line 5: a string has either text= or hex=");
    EXPECT_EQ(ParseError("controller 0\n  root-hub name=X\n    port 1\n      device speed=super\n"),
              "line 4: speed is low, full or high");
    EXPECT_EQ(ParseError("controller 0\ncontroller 0\n"), "line 2: controller given twice");
    EXPECT_EQ(ParseError("controller 0 answers=sometimes\n"), "line 1: answers is always, never or never-uncancellable");
    std::string error;
    EXPECT_FALSE(sim::LoadUsbTree("/nonexistent/tree.txt", error));
    EXPECT_EQ(error, "cannot read /nonexistent/tree.txt");
}

TEST_F(UsbTreeFileTest, DefaultTreeHoldsAMatchingController)
{
    sim::UseDefaultUsbTree();
    UsbTopologyWalk();
    EXPECT_EQ(downloadState.TopologyMatchFlag, 1);
    EXPECT_EQ(sim::TraceEvents("topology"), std::vector<std::string>{"topology match=1"});
}

class UsbStartTest : public WorldTest {
protected:
    void TearDown() override
    {
        WorldTest::TearDown();
        EXPECT_EQ(sim::UsbOpenHandleCount(), 0);
        EXPECT_EQ(sim::UsbLiveBlockCount(), 0);
        sim::ResetUsbTree();
    }
};

TEST_F(UsbStartTest, NormalModeControllerClearsTheFlagAndWalks)
{
    sim::ResetUsbTree();
    PlugDevice(0x2563, 0x0575);
    downloadState.TopologyMatchFlag = 1;
    DialogStart(sim::kDialogWindow);  // the empty tree: cleared, nothing sets it again
    EXPECT_EQ(downloadState.TopologyMatchFlag, 0);
    EXPECT_EQ(sim::UsbWalksEnded(), 1u);

    sim::UseDefaultUsbTree();
    DialogStart(sim::kDialogWindow);
    EXPECT_EQ(downloadState.TopologyMatchFlag, 1);
    EXPECT_EQ(sim::UsbWalksEnded(), 2u);
    ASSERT_TRUE(WaitForDownload());
    EXPECT_TRUE(sim::Dialog().boxes.empty());
    EXPECT_TRUE(sim::TraceEvents("controls").empty());  // no worker
    EXPECT_EQ(sim::TraceEvents("topology"), (std::vector<std::string>{"topology match=0", "topology match=1"}));
}

TEST_F(UsbStartTest, StartReturnsWithinTheWalksBudgetWhenNoControllerAnswers)
{
    // Every host controller takes the root hub name request and never answers it. Start waits
    // requests out in full while the budget allows, the last one for what is left of it, then
    // opens nothing more; the matching devices behind the controllers are never reached.
    sim::UsbTree tree;
    for (int n = 0; n < 10; ++n) {
        auto root = sim::MakeUsbHub("USB#ROOT_HUB#" + std::to_string(n), 1);
        root->ports[0].device = sim::MakeUsbDevice(0x2563, 0x0575, "Oskel", "Pad", "rq4180");
        tree.controllers.push_back(sim::UsbController{n, false, root, sim::UsbAnswering::kNever});
    }
    sim::SetUsbTree(tree);
    PlugDevice(0x2563, 0x0575);
    const std::uint32_t before = sim::UsbDriverClock();
    DialogStart(sim::kDialogWindow);
    EXPECT_EQ(sim::UsbDriverClock() - before, kUsbWalkBudgetMs);
    const auto requests = sim::UsbRequests();
    EXPECT_EQ(requests.size(), (kUsbWalkBudgetMs + kUsbRequestLimitMs - 1) / kUsbRequestLimitMs);
    for (const auto& r : requests) EXPECT_TRUE(r.neverAnswered) << r.path;
    EXPECT_EQ(sim::UsbOpenAttempts().size(), requests.size());
    EXPECT_EQ(sim::UsbOpenAttempts().back(), "\\\\.\\HCD" + std::to_string(requests.size() - 1));
    EXPECT_TRUE(UsbWalkRanOutOfTime());
    EXPECT_EQ(downloadState.TopologyMatchFlag, 0);
    EXPECT_TRUE(sim::Dialog().boxes.empty());
}

TEST_F(UsbStartTest, UpdateModeControllerWalksNothing)
{
    sim::UseDefaultUsbTree();
    PlugDevice(0x0461, 0x4D81);
    DialogStart(sim::kDialogWindow);
    ASSERT_TRUE(WaitForDownload());
    EXPECT_EQ(sim::UsbControllerOpenAttempts(), 0u);
    EXPECT_TRUE(sim::TraceEvents("topology").empty());
}

}  // namespace

namespace {

TEST_F(UsbTreeFileTest, ExampleOfTheFormatDocumentParsesAndMatches)
{
    std::ifstream file(OSKEL_SOURCE_DIR "/docs/usb-tree-format.md");
    const std::string doc((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::size_t section = doc.find("## Example");
    ASSERT_NE(section, std::string::npos);
    const std::size_t start = doc.find("```\n", section) + 4;
    const std::size_t end = doc.find("```", start);
    std::string error;
    sim::UsbTree tree;
    ASSERT_TRUE(sim::ParseUsbTree(doc.substr(start, end - start), tree, error)) << error;
    sim::SetUsbTree(tree);
    UsbTopologyWalk();
    EXPECT_EQ(downloadState.TopologyMatchFlag, 1);
    EXPECT_EQ(RequestsWithCode(platform::kIoctlUsbGetNodeConnectionInformation).size(), 1u);
}

}  // namespace
