// A fresh simulated USB tree for each test, and the checks that the walk left nothing behind.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "state/download_state.h"
#include "device/usb_descriptors.h"
#include "platform/usb.h"
#include "sim/trace.h"
#include "sim/usb_tree.h"
#include "sim/world.h"

class UsbWorldTest : public ::testing::Test {
protected:
    static constexpr const char* kRootHubName = "USB#ROOT_HUB20#4&1&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";

    // Simulated time runs this much faster here: a node that never answers holds a request for
    // its whole time limit.
    static constexpr std::uint32_t kTimeScale = 1000;

    void SetUp() override
    {
        sim::ResetUsbTree();
        sim::TraceOpen();
        downloadState.TopologyMatchFlag = 0;
        timeScale = sim::TimeScale();
        sim::SetTimeScale(kTimeScale);
    }

    void TearDown() override
    {
        EXPECT_EQ(sim::UsbOpenHandleCount(), 0) << "a controller or hub handle was left open";
        EXPECT_EQ(sim::UsbLiveBlockCount(), 0) << "a block was not released";
        EXPECT_EQ(sim::UsbBadBlockReleases(), 0u) << "something was released that was not a live block";
        sim::ResetUsbTree();
        sim::SetTimeScale(timeScale);
    }

    std::uint32_t timeScale = 1;

    // One host controller (HCD0) with a root hub of the given ports.
    static std::shared_ptr<sim::UsbHub> UseOneRootHub(std::vector<sim::UsbPort> ports)
    {
        auto root = sim::MakeUsbHub(kRootHubName, 0);
        root->ports = std::move(ports);
        sim::UsbTree tree;
        tree.controllers.push_back(sim::UsbController{0, false, root});
        sim::SetUsbTree(tree);
        return root;
    }

    static sim::UsbPort PortWith(std::shared_ptr<sim::UsbDeviceModel> device)
    {
        sim::UsbPort port;
        port.device = std::move(device);
        return port;
    }

    // A device that names no string anywhere, with an identification string that would match.
    static std::shared_ptr<sim::UsbDeviceModel> SilentDevice(std::vector<std::vector<std::uint8_t>> descriptors)
    {
        auto device = sim::MakeUsbDevice(0x2563, 0x0575, "", "", "RQ4180");
        device->configuration = sim::ConfigurationSet(descriptors);
        return device;
    }

    static std::vector<sim::UsbRequestRecord> RequestsWithCode(std::uint32_t code)
    {
        std::vector<sim::UsbRequestRecord> found;
        for (const auto& r : sim::UsbRequests()) {
            if (r.code == code) found.push_back(r);
        }
        return found;
    }

    // Descriptor requests for the identification string (wValue 0x03FF).
    static std::vector<sim::UsbRequestRecord> IdentificationRequests()
    {
        std::vector<sim::UsbRequestRecord> found;
        for (const auto& r : RequestsWithCode(platform::kIoctlUsbGetDescriptorFromNodeConnection)) {
            if (r.input.size() >= 12 && ReadLe16(&r.input[6]) == 0x03FF) found.push_back(r);
        }
        return found;
    }

    // The port numbers of the connection requests (newer form) sent to the hub opened by path.
    static std::vector<std::uint32_t> PortsAskedOf(const std::string& hubName)
    {
        std::vector<std::uint32_t> ports;
        for (const auto& r : RequestsWithCode(platform::kIoctlUsbGetNodeConnectionInformationEx)) {
            if (r.path == "\\\\.\\" + hubName) ports.push_back(ReadLe32(r.input.data()));
        }
        return ports;
    }
};
