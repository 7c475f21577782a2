// The HID interface under a hidraw node, reached through usbfs for reports on endpoint 0 (test
// rig only): set-output requests as SET_REPORT(Output) and get-input requests as
// GET_REPORT(Input), whatever endpoints the interface has, as Windows' HidD_SetOutputReport and
// HidD_GetInputReport send them. hidraw cannot: it sends output reports on the interrupt OUT
// endpoint when the interface has one.
//
// Open takes the interface from usbhid (its hidraw node then goes away) and claims it; the end
// of the object gives it back to usbhid.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rig {

class UsbfsReports {
public:
    UsbfsReports() = default;
    ~UsbfsReports();
    UsbfsReports(const UsbfsReports&) = delete;
    UsbfsReports& operator=(const UsbfsReports&) = delete;

    // The USB device and interface above the hidraw node (/dev/hidrawN), from sysfs; false,
    // with the reason, when the node is not on USB or the interface cannot be claimed.
    bool Open(const std::string& hidrawNode, std::string& error);
    // report: byte 0 the report id (0: the device numbers no reports, and it does not travel).
    bool SetOutputReport(const std::vector<std::uint8_t>& report, std::uint32_t timeLimitMs, std::string& error);
    // buffer: byte 0 the report id asked for; filled with the report, its length kept.
    bool GetInputReport(std::vector<std::uint8_t>& buffer, std::uint32_t timeLimitMs, std::string& error);

private:
    int device_ = -1;
    unsigned interface_ = 0;
    bool claimed_ = false;
};

}  // namespace rig
