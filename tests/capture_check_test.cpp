// The capture check's choice of the updater's interface when the capture holds no report
// descriptors: the controller's HID interface that is not a boot keyboard or mouse.
#include <gtest/gtest.h>

#include "capture/capture_format.h"
#include "check/capture_check.h"
#include "codec/usb_layouts.h"

namespace {

using namespace capture;
using namespace usb;

InterfaceSummary HidInterface(std::uint8_t number, std::uint8_t subclass, std::uint8_t protocol)
{
    InterfaceSummary interface;
    interface.number = number;
    interface.interfaceClass = kClassHid;
    interface.subclass = subclass;
    interface.protocol = protocol;
    interface.endpoints = {static_cast<std::uint8_t>(0x81 + number)};
    return interface;
}

// The interface the check judges on a mode-3 controller with these interfaces.
int JudgedInterface(const std::vector<InterfaceSummary>& interfaces)
{
    CaptureDevices found;
    DeviceSummary device;
    device.described = true;
    device.configured = true;
    device.vendorId = 0x0461;
    device.productId = 0x4D81;
    device.interfaces = interfaces;
    found.summary.devices.push_back(device);
    found.transfersOf.emplace_back();
    CheckRequest request;
    request.vendorId = 0x0461;
    request.productId = 0x4D81;
    const CheckVerdict verdict = CheckCapture(CaptureContents{}, found, request);
    if (verdict.devices.size() != 1 || verdict.devices[0].source != InterfaceSource::Configuration) return -1;
    return verdict.devices[0].interfaceNumber;
}

TEST(CaptureCheckInterface, BootKeyboardOrMouseIsPassedForTheControllersOtherInterface)
{
    for (const std::uint8_t boot : {kProtocolKeyboard, kProtocolMouse}) {
        SCOPED_TRACE(static_cast<int>(boot));
        const InterfaceSummary bootInterface = HidInterface(0, kSubclassBoot, boot);
        const InterfaceSummary vendor = HidInterface(1, 0, 0);
        EXPECT_EQ(JudgedInterface({bootInterface, vendor}), 1);
        EXPECT_EQ(JudgedInterface({vendor, bootInterface}), 1);
        // Only boot interfaces: the first one is judged.
        EXPECT_EQ(JudgedInterface({bootInterface}), 0);
    }
    // A keyboard or mouse protocol without the boot subclass is no boot interface.
    const InterfaceSummary notBoot = HidInterface(0, 0, kProtocolKeyboard);
    EXPECT_EQ(JudgedInterface({notBoot, HidInterface(1, 0, 0)}), 0);
}

}  // namespace
