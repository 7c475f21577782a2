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
// (usbcore's and usbhid's, which the program does not make), and the interrupt IN transfers that
// ended without data (the one usbhid keeps waiting on the IN endpoint while the node is open and
// cancels when it is closed).
//
// Prints "same N report transfers (...)" or the first difference, with both sides' frames.
// Exit status: 0 the same, 1 different or a capture unreadable, 2 bad usage.
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "capture/capture_format.h"
#include "capture/capture_reader.h"
#include "capture/usb_hid_descriptors.h"
#include "codec/hex_text.h"

namespace {

constexpr int kDifferent = 1;
constexpr int kUsage = 2;
constexpr char kProgram[] = "oskel-capture-compare";
constexpr std::uint8_t kTypeBits = 0x60;
constexpr std::uint8_t kTypeClass = 0x20;

using capture::UsbOutcome;
using capture::UsbPacket;

struct Transfer {
    const UsbPacket* submission = nullptr;
    const UsbPacket* end = nullptr;  // the completion, or the error of a submission
};

// Submissions paired with their ends (by bus and URB tag), in the order they ended.
std::vector<Transfer> EndedTransfers(const capture::CaptureContents& contents)
{
    std::vector<Transfer> ended;
    std::map<std::pair<std::uint16_t, std::uint64_t>, const UsbPacket*> pending;
    for (const UsbPacket& packet : contents.packets) {
        const auto key = std::make_pair(packet.bus, packet.id);
        if (packet.event == capture::UsbEvent::Submit) {
            pending[key] = &packet;
            continue;
        }
        if (packet.event == capture::UsbEvent::SubmitData) continue;
        auto found = pending.find(key);
        ended.push_back(Transfer{found != pending.end() ? found->second : nullptr, &packet});
        if (found != pending.end()) pending.erase(found);
    }
    return ended;
}

bool IsIn(const Transfer& t)
{
    const UsbPacket& first = t.submission ? *t.submission : *t.end;
    return first.hasSetup ? (first.setup[0] & capture::kDirectionIn) != 0 : (first.endpoint & capture::kDirectionIn) != 0;
}

const std::vector<std::uint8_t>& DataOf(const Transfer& t)
{
    static const std::vector<std::uint8_t> none;
    if (IsIn(t)) return t.end->data;
    return t.submission ? t.submission->data : none;
}

// The bus and address of the device whose device descriptor has these ids.
bool FindDevice(const std::vector<Transfer>& transfers, std::uint16_t vendor, std::uint16_t product,
                std::pair<std::uint16_t, std::uint16_t>& place)
{
    using F = capture::DeviceDescriptorField;
    for (const Transfer& t : transfers) {
        if (!t.submission || !t.submission->hasSetup || t.end->address == 0) continue;
        const auto& setup = t.submission->setup;
        const auto& data = t.end->data;
        if (setup[0] != capture::kStandardDeviceIn || setup[1] != capture::kGetDescriptor ||
            setup[3] != capture::kDescriptorDevice || data.size() < F::kProductId + 2)
            continue;
        if ((data[F::kVendorId] | data[F::kVendorId + 1] << 8) == vendor &&
            (data[F::kProductId] | data[F::kProductId + 1] << 8) == product) {
            place = {t.end->bus, t.end->address};
            return true;
        }
    }
    return false;
}

bool IsReportTransfer(const Transfer& t)
{
    if (!t.submission) return false;
    const UsbPacket& s = *t.submission;
    if (s.transferType == capture::kTransferInterrupt)
        return !(IsIn(t) && (t.end->outcome != UsbOutcome::Ok || t.end->data.empty()));
    if (s.transferType != capture::kTransferControl || !s.hasSetup) return false;
    return (s.setup[0] & kTypeBits) == kTypeClass &&
           (s.setup[1] == capture::kHidSetReport || s.setup[1] == capture::kHidGetReport);
}

std::vector<Transfer> ReportTransfers(const std::vector<Transfer>& all, std::pair<std::uint16_t, std::uint16_t> place)
{
    std::vector<Transfer> reports;
    for (const Transfer& t : all)
        if (t.end->bus == place.first && t.end->address == place.second && IsReportTransfer(t)) reports.push_back(t);
    return reports;
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

std::string Describe(const Transfer& t)
{
    const UsbPacket& s = *t.submission;
    char head[64];
    std::snprintf(head, sizeof head, "frame %llu: %s endpoint 0x%02x", static_cast<unsigned long long>(t.end->frame),
                  s.transferType == capture::kTransferControl ? "control" : "interrupt", s.endpoint);
    std::string text = head;
    if (s.transferType == capture::kTransferControl) text += " setup " + codec::Hex(s.setup.data(), s.setup.size());
    const std::vector<std::uint8_t>& data = DataOf(t);
    return text + " " + OutcomeName(t.end->outcome) + " data " + codec::Hex(data.data(), data.size());
}

bool Same(const Transfer& a, const Transfer& b)
{
    const UsbPacket& sa = *a.submission;
    const UsbPacket& sb = *b.submission;
    return sa.transferType == sb.transferType && sa.endpoint == sb.endpoint && sa.hasSetup == sb.hasSetup &&
           (!sa.hasSetup || sa.setup == sb.setup) && a.end->outcome == b.end->outcome && DataOf(a) == DataOf(b);
}

// The report transfers of the device in one capture; false, with the reason printed, when none.
bool Load(const char* path, std::uint16_t vendor, std::uint16_t product, capture::CaptureContents& contents,
          std::vector<Transfer>& reports)
{
    capture::CaptureError error;
    if (!capture::ReadCaptureFile(path, contents, error)) {
        std::fprintf(stderr, "%s: %s\n", kProgram, capture::ErrorText(error).c_str());
        return false;
    }
    const std::vector<Transfer> all = EndedTransfers(contents);
    std::pair<std::uint16_t, std::uint16_t> place;
    if (!FindDevice(all, vendor, product, place)) {
        std::fprintf(stderr, "%s: %s: no enumeration of %04x:%04x\n", kProgram, path, vendor, product);
        return false;
    }
    reports = ReportTransfers(all, place);
    std::printf("%s: device %04x:%04x at bus %u, address %u: %zu report transfers\n", path, vendor, product,
                place.first, place.second, reports.size());
    return true;
}

std::string Counts(const std::vector<Transfer>& reports)
{
    std::map<std::string, std::size_t> kinds;
    for (const Transfer& t : reports) {
        const UsbPacket& s = *t.submission;
        if (s.transferType == capture::kTransferInterrupt) ++kinds[IsIn(t) ? "interrupt IN" : "interrupt OUT"];
        else ++kinds[s.setup[1] == capture::kHidSetReport ? "SET_REPORT" : "GET_REPORT"];
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
    std::vector<Transfer> program;
    std::vector<Transfer> kernel;
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
        const Transfer& extraTransfer = programLonger ? program[kernel.size()] : kernel[program.size()];
        std::printf("the %s capture has %zu report transfers more, from %s\n", programLonger ? "program's" : "kernel's",
                    programLonger ? program.size() - kernel.size() : kernel.size() - program.size(),
                    Describe(extraTransfer).c_str());
        return kDifferent;
    }
    std::printf("same %zu report transfers (%s)\n", program.size(), Counts(program).c_str());
    return 0;
}
