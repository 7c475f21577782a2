#include "app/linux/give_back.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "app/linux/controllers.h"
#include "app/linux/terminal.h"
#include "platform/linux/hid_usb.h"
#include "platform/linux/hidraw.h"
#include "platform/linux/session_guard.h"
#include "platform/linux/usb_driverless.h"

namespace {

// How long a listing waits for udev to announce a node that came back: udev applies the rules
// within milliseconds; this bounds a udev that is busy or stuck.
constexpr int kNodeWaitMs = 5000;

constexpr const char kGivingBack[] = "giving the controller back to the system";

std::string Named(std::uint16_t vendorId, std::uint16_t productId)
{
    return "the controller " + IdsText(vendorId, productId) + " (" +
           ControllerStateText(KindOfController(vendorId, productId)) + ")";
}

void TellNotGivenBack(std::uint16_t vendorId, std::uint16_t productId, const std::string& reason)
{
    TerminalNotice(Named(vendorId, productId) + " could not be given back to the system (" + reason +
                   "): unplug it and plug it in again");
}

bool SameInterface(const platform::UsbPlace& place, const platform::DriverlessInterface& interface)
{
    return place.usb && place.bus == interface.bus && place.address == interface.address &&
           place.interfaceNumber == interface.interfaceNumber;
}

// Until udev has announced a node for each interface given back, or kNodeWaitMs have passed.
void AwaitNodes(std::vector<platform::DriverlessInterface> waited)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kNodeWaitMs);
    while (!waited.empty()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd ready{platform::HidArrivalMonitorFd(), POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) continue;
        for (const platform::HidNode& node : platform::HidArrivalMonitorReceive()) {
            const platform::UsbPlace place = platform::ReadUsbPlace(node.node);
            std::erase_if(waited, [&place](const platform::DriverlessInterface& i) { return SameInterface(place, i); });
        }
    }
}

}  // namespace

void GiveBackAfterDownload()
{
    if (!platform::UsbInterfacesClaimed()) return;
    TerminalNotice(kGivingBack);
    for (const platform::UsbNotGivenBack& left : platform::UsbGiveBackInterfaces()) {
        TellNotGivenBack(left.vendorId, left.productId, left.reason);
    }
    platform::SessionGuardRelease();
}

void GiveBackDriverless(bool waitForNodes)
{
    std::vector<platform::DriverlessInterface> found = platform::UsbFindDriverless();
    std::erase_if(found, [](const platform::DriverlessInterface& i) { return !platform::HidIdsChosen(i.vendorId, i.productId); });
    if (found.empty()) return;
    std::string error;
    const bool watching = waitForNodes && platform::HidArrivalMonitorOpen(error);
    std::vector<platform::DriverlessInterface> givenBack;
    for (const platform::DriverlessInterface& interface : found) {
        TerminalNotice(Named(interface.vendorId, interface.productId) + " at " + interface.deviceNode +
                       " was left without its driver, as by an interrupted download: " + kGivingBack);
        const std::string why = platform::UsbGiveBackDriverless(interface);
        if (why.empty()) givenBack.push_back(interface);
        else TellNotGivenBack(interface.vendorId, interface.productId, why);
    }
    if (!watching) return;
    AwaitNodes(givenBack);
    platform::HidArrivalMonitorClose();
}
