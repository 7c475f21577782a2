// Helpers of the protocol-1 tests: a world with the device plugged in, and the reports as the
// trace shows them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "device/device_link.h"
#include "platform/hid.h"
#include "platform/ui.h"
#include "protocol/protocol1_reports.h"
#include "sim/hid_bus.h"
#include "models/protocol1_device.h"
#include "sim/trace.h"
#include "sim/world.h"
#include "tests/test_world.h"
#include "codec/hex_text.h"

namespace protocol1_test {

inline constexpr int kProgressControlId = 1008;
inline constexpr std::uint32_t kRegionStart = 0x0A00;
inline constexpr std::uint32_t kFullLength = 32769;

// One set-output request as the trace shows it, and the fields of its plain form (the updater's
// reports have protocol1::kReportSize bytes).
struct SentReport {
    bool accepted = false;
    std::vector<std::uint8_t> wire;
    std::vector<std::uint8_t> plain;

    std::uint8_t Command() const { return protocol1::ReadCommand(plain.data()); }
    std::uint32_t Address() const { return protocol1::ReadAddress(plain.data()); }
    std::uint8_t Size() const { return protocol1::ReadSize(plain.data()); }
    const std::uint8_t* Data() const { return protocol1::DataField(plain.data()); }
    const std::uint8_t* WireData() const { return protocol1::DataField(wire.data()); }
};

inline std::vector<SentReport> SentReports()
{
    std::vector<SentReport> reports;
    for (const std::string& line : sim::TraceEvents("set-output")) {
        std::istringstream fields(line);
        std::string event, status, wire, plain;
        fields >> event >> status >> wire >> plain;
        SentReport report;
        report.accepted = status == "ok";
        report.wire = codec::FromHex(wire);
        report.plain = codec::FromHex(plain);
        reports.push_back(report);
    }
    return reports;
}

// The reports of one command, in the order sent.
inline std::vector<SentReport> ReportsOf(const std::vector<SentReport>& all, std::uint8_t command)
{
    std::vector<SentReport> reports;
    for (const SentReport& report : all) {
        if (report.plain.size() == protocol1::kReportSize && report.Command() == command) reports.push_back(report);
    }
    return reports;
}

// A firmware image as the worker passes it: 32768 bytes of varied data and one 0xFF byte.
// No byte is 0xFF unless a test makes it so.
inline std::vector<std::uint8_t> VariedImage(std::uint32_t seed = 0x2468ACE1)
{
    std::vector<std::uint8_t> image(kFullLength, 0xFF);
    std::uint32_t state = seed;
    for (std::uint32_t i = 0; i < 32768; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        image[i] = static_cast<std::uint8_t>(state % 0xFF);
    }
    return image;
}

inline void Blank(std::vector<std::uint8_t>& image, std::uint32_t from, std::uint32_t count)
{
    for (std::uint32_t i = from; i < from + count; ++i) image[i] = 0xFF;
}

// The common world with a protocol-1 device plugged in.
class Protocol1World : public WorldTest {
protected:
    void SetUp() override
    {
        WorldTest::SetUp();
        device = std::make_shared<models::Protocol1Device>();
        sim::Plug(device);
    }

    // Opens the link's transfer handle on the vendor collection (usage page 0xFF00, usage 1).
    void OpenTransferHandle()
    {
        ASSERT_NE(deviceLink, nullptr);
        deviceLink->transferHandle = platform::HidOpenReadWrite(device->PathOf(1)).handle;
        ASSERT_NE(deviceLink->transferHandle, platform::kInvalidHandle);
    }

    platform::DeviceHandle TransferHandle() const { return deviceLink->transferHandle; }

    static platform::WindowHandle Bar()
    {
        return platform::GetDialogItem(sim::kDialogWindow, kProgressControlId);
    }

    std::shared_ptr<models::Protocol1Device> device;
};

}  // namespace protocol1_test
