// Two captures of the same download, side by side (test rig only, runs on the host):
//
//   oskel-capture-compare PROGRAM_CAPTURE KERNEL_CAPTURE --device VID:PID
//
// PROGRAM_CAPTURE is what the program under test wrote of its own traffic (oskel-update
// --capture), KERNEL_CAPTURE what the kernel's usbmon recorded of the bus meanwhile
// (oskel-usbmon-record). In each, the device with those ids is the one whose device descriptor
// its enumeration returned; its report transfers, in the order they completed, must be the same
// in both: the same transfer type, endpoint, setup packet, data and outcome, one by one.
//
// Report transfers are the interrupt transfers and the HID class requests SET_REPORT and
// GET_REPORT. Left out on both sides: the enumeration and the other requests on endpoint 0
// (usbcore's and usbhid's, which the program does not make), the interrupt IN transfers that
// ended without data (the one usbhid keeps waiting on the IN endpoint while the node is open and
// cancels when it is closed), and a submission that the host controller refused with -ENODEV
// because the device had gone (usbmon's 'S' then 'E'; vhci-hcd's "enqueue for inactive port"
// between the end of a USB/IP connection and usbcore's disconnect). Such a transfer never reached
// the bus, and the program cannot tell it from a report that hidraw or usbcore refused with the
// same ENODEV before usbmon saw it, which its capture records as nothing; a report that was on
// the bus when the device went is in both (-ESHUTDOWN).
//
// Prints "same N report transfers (...)" or the first difference, with both sides' frames.
// Exit status: 0 the same, 1 different or a capture unreadable, 2 bad usage.
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "capture/capture_devices.h"
#include "capture/capture_format.h"
#include "capture/capture_reader.h"
#include "capture/capture_transfers.h"
#include "codec/hex_text.h"

namespace {

constexpr int kDifferent = 1;
constexpr int kUsage = 2;
constexpr char kProgram[] = "oskel-capture-compare";

using capture::UsbOutcome;
using capture::UsbTransfer;

const std::vector<std::uint8_t>& DataOf(const UsbTransfer& t) { return t.in ? t.input : t.out; }

// A submission that the host controller refused because the device had gone.
bool RefusedForGoneDevice(const UsbTransfer& t)
{
    return t.last != nullptr && t.last->event == capture::UsbEvent::SubmitError && t.last->status == capture::kErrnoNoDevice;
}

bool IsReportTransfer(const UsbTransfer& t)
{
    if (t.outcome == UsbOutcome::Pending || RefusedForGoneDevice(t)) return false;
    if (t.type == capture::kTransferInterrupt) return !(t.in && (t.outcome != UsbOutcome::Ok || t.input.empty()));
    if (t.type != capture::kTransferControl || !t.hasSetup) return false;
    return (capture::RequestType(t) & usb::kRequestTypeMask) == usb::kRequestTypeClass &&
           (capture::Request(t) == usb::kHidSetReport || capture::Request(t) == usb::kHidGetReport);
}

const char* OutcomeName(UsbOutcome outcome)
{
    switch (outcome) {
    case UsbOutcome::Pending: return "pending";
    case UsbOutcome::Ok: return "ok";
    case UsbOutcome::Stalled: return "stalled";
    case UsbOutcome::Cancelled: return "cancelled";
    case UsbOutcome::Gone: return "no device";
    case UsbOutcome::Error: return "error";
    }
    return "?";
}

std::string Describe(const UsbTransfer& t)
{
    char head[64];
    std::snprintf(head, sizeof head, "frame %llu: %s endpoint 0x%02x", static_cast<unsigned long long>(t.first->frame),
                  t.type == capture::kTransferControl ? "control" : "interrupt", t.endpoint);
    std::string text = head;
    if (t.type == capture::kTransferControl) text += " setup " + codec::Hex(t.setup.data(), t.setup.size());
    const std::vector<std::uint8_t>& data = DataOf(t);
    return text + " " + OutcomeName(t.outcome) + " data " + codec::Hex(data.data(), data.size());
}

bool Same(const UsbTransfer& a, const UsbTransfer& b)
{
    return a.type == b.type && a.endpoint == b.endpoint && a.hasSetup == b.hasSetup &&
           (!a.hasSetup || a.setup == b.setup) && a.outcome == b.outcome && DataOf(a) == DataOf(b);
}

// The report transfers, in the order they ended, of the first device in one capture whose
// enumeration described it with these ids; false, with the reason printed, when there is none.
bool Load(const char* path, std::uint16_t vendor, std::uint16_t product, capture::CaptureContents& contents,
          std::vector<UsbTransfer>& reports)
{
    capture::CaptureError error;
    if (!capture::ReadCaptureFile(path, contents, error)) {
        std::fprintf(stderr, "%s: %s\n", kProgram, capture::ErrorText(error).c_str());
        return false;
    }
    const capture::CaptureDevices found = capture::FindDevices(contents);
    for (std::size_t d = 0; d < found.summary.devices.size(); ++d) {
        const capture::DeviceSummary& device = found.summary.devices[d];
        if (!device.described || device.vendorId != vendor || device.productId != product) continue;
        for (std::size_t index : found.transfersOf[d]) {
            if (IsReportTransfer(found.transfers[index])) reports.push_back(found.transfers[index]);
        }
        std::printf("%s: device %04x:%04x at bus %u, address %u: %zu report transfers\n", path, vendor, product,
                    device.bus, device.address, reports.size());
        return true;
    }
    std::fprintf(stderr, "%s: %s: no enumeration of %04x:%04x\n", kProgram, path, vendor, product);
    return false;
}

std::string Counts(const std::vector<UsbTransfer>& reports)
{
    std::map<std::string, std::size_t> kinds;
    for (const UsbTransfer& t : reports) {
        if (t.type == capture::kTransferInterrupt) ++kinds[t.in ? "interrupt IN" : "interrupt OUT"];
        else ++kinds[capture::Request(t) == usb::kHidSetReport ? "SET_REPORT" : "GET_REPORT"];
    }
    std::string text;
    for (const auto& [kind, count] : kinds) text += (text.empty() ? "" : ", ") + std::to_string(count) + " " + kind;
    return text;
}

}  // namespace

int main(int argc, char** argv)
{
    unsigned vendor = 0;
    unsigned product = 0;
    char extra = 0;
    if (argc != 5 || std::string(argv[3]) != "--device" ||
        std::sscanf(argv[4], "%4x:%4x%c", &vendor, &product, &extra) != 2) {
        std::fprintf(stderr, "usage: %s PROGRAM_CAPTURE KERNEL_CAPTURE --device VID:PID\n", kProgram);
        return kUsage;
    }
    capture::CaptureContents programContents;
    capture::CaptureContents kernelContents;
    std::vector<UsbTransfer> program;
    std::vector<UsbTransfer> kernel;
    if (!Load(argv[1], static_cast<std::uint16_t>(vendor), static_cast<std::uint16_t>(product), programContents, program) ||
        !Load(argv[2], static_cast<std::uint16_t>(vendor), static_cast<std::uint16_t>(product), kernelContents, kernel))
        return kDifferent;
    for (std::size_t i = 0; i < program.size() && i < kernel.size(); ++i) {
        if (Same(program[i], kernel[i])) continue;
        std::printf("report transfer %zu differs:\n  program %s\n  kernel  %s\n", i + 1, Describe(program[i]).c_str(),
                    Describe(kernel[i]).c_str());
        return kDifferent;
    }
    if (program.size() != kernel.size()) {
        const bool programLonger = program.size() > kernel.size();
        const UsbTransfer& extraTransfer = programLonger ? program[kernel.size()] : kernel[program.size()];
        std::printf("the %s capture has %zu report transfers more, from %s\n", programLonger ? "program's" : "kernel's",
                    programLonger ? program.size() - kernel.size() : kernel.size() - program.size(),
                    Describe(extraTransfer).c_str());
        return kDifferent;
    }
    std::printf("same %zu report transfers (%s)\n", program.size(), Counts(program).c_str());
    return 0;
}
