// A fresh simulated world for each test (sim::BeginWorld): empty bus and USB tree, new dialog
// view and trace, initial download state, fast simulated time, the tick count following the
// clock, and a DeviceLink as the dialog creates it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/dialog_logic.h"
#include "state/download_state.h"
#include "device/device_link.h"
#include "image/firmware_buffer.h"
#include "sim/broadcast.h"
#include "sim/download_claims.h"
#include "sim/hid_bus.h"
#include "models/models.h"
#include "sim/scenario.h"
#include "sim/trace.h"
#include "sim/world.h"

class WorldTest : public ::testing::Test {
protected:
    void SetUp() override { sim::BeginWorld({1000, true, false}); }

    void TearDown() override
    {
        const sim::WorldEnd end = sim::EndWorld(30000);
        EXPECT_TRUE(end.threadsEnded) << "a download did not end";
        EXPECT_EQ(end.openHandles, 0) << "a handle was left open";
        EXPECT_EQ(end.claimsHeld, 0) << "a download claim was left held";
    }

    static std::shared_ptr<models::HidDevice> PlugDevice(std::uint16_t vendorId, std::uint16_t productId)
    {
        auto device = models::MakeDevice(vendorId, productId);
        sim::Plug(device);
        return device;
    }

    static std::shared_ptr<models::HidDevice> PlugCollections(std::uint16_t vendorId, std::uint16_t productId,
                                                           std::vector<models::HidCollection> collections)
    {
        auto device = std::make_shared<models::HidDevice>(vendorId, productId, std::move(collections));
        sim::Plug(device);
        return device;
    }

    // Sends the arrival of every interface of device, as the system does when it is plugged in.
    static void AnnounceArrival(const std::shared_ptr<models::HidDevice>& device, std::uint32_t event = 0x8000)
    {
        for (std::size_t i = 0; i < device->collections.size(); ++i) {
            std::vector<std::uint8_t> record = sim::MakeInterfaceBroadcast(device->PathOf(i));
            DialogDeviceChange(sim::kDialogWindow, event, record.data());
            sim::DeliverPostedMessages();
        }
    }

    static std::vector<std::string> BoxTexts()
    {
        std::vector<std::string> texts;
        for (const auto& box : sim::Dialog().boxes) texts.push_back(box.caption + " | " + box.text);
        return texts;
    }

    static std::vector<std::string> DebugLines() { return sim::Dialog().debugLines; }

    static bool WaitForDownload() { return sim::WaitForThreads(30000); }
};
