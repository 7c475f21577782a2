// The bare loop (test rig only): one mode's whole download through a hidraw node, each report
// written and each reply read as fast as the node takes them, with nothing else around it.
//
//   oskel-hidraw-loop MODE NODE IMAGE [--control]
//
// MODE 1, 2 or 3; NODE the controller's hidraw node; IMAGE the firmware image. It sends the
// reports of download_steps.h, each bounded by the updater's time limit for it (poll for a
// reply; writes and ioctls return when the transport is done with the report, or with its own
// time limit). With --control (mode 1, whose reports are all requests), set-output and get-input
// requests go as SET_REPORT and GET_REPORT on endpoint 0 of the node's USB interface through
// usbfs (usbfs_reports.h), where hidraw would send the output reports on the interrupt OUT
// endpoint. Prints
//
//   loop mode=<m> steps=<n> us=<microseconds from the first report to the last step> read=<bytes>
//
// read: the length of the last input report read() gave (hidraw gives a report as the device
// sent it, without a 0 byte in front for a collection that numbers no reports); 0 when none.
//
// Exit status: 0 when every step went through, 1 when one failed (which and why on standard
// error), 2 for bad usage.
#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/linux/loop/download_steps.h"
#include "tests/linux/loop/usbfs_reports.h"

namespace {

constexpr int kUsage = 2;
constexpr int kFailed = 1;

bool Fail(std::size_t index, const char* operation)
{
    std::fprintf(stderr, "oskel-hidraw-loop: step %zu, %s: %s\n", index, operation,
                 errno != 0 ? std::strerror(errno) : "no answer in time");
    return false;
}

bool FailWith(std::size_t index, const std::string& why)
{
    std::fprintf(stderr, "oskel-hidraw-loop: step %zu, %s\n", index, why.c_str());
    return false;
}

// Where the steps go: the hidraw node, or endpoint 0 through usbfs for requests.
struct Paths {
    int node = -1;
    rig::UsbfsReports* control = nullptr;
};

// The length of the last input report read.
ssize_t lastRead = 0;

// Waits up to limitMs for an input report and reads it.
bool ReadWithin(int node, std::vector<std::uint8_t>& buffer, std::uint32_t limitMs)
{
    pollfd waiting{node, POLLIN, 0};
    errno = 0;
    const int ready = poll(&waiting, 1, static_cast<int>(limitMs));
    if (ready <= 0 || (waiting.revents & POLLIN) == 0) return false;
    lastRead = read(node, buffer.data(), buffer.size());
    return lastRead > 0;
}

void Flush(int node, std::vector<std::uint8_t>& buffer)
{
    pollfd waiting{node, POLLIN, 0};
    while (poll(&waiting, 1, 0) > 0 && (waiting.revents & POLLIN) != 0) {
        if (read(node, buffer.data(), buffer.size()) <= 0) return;
    }
}

bool RunRequest(rig::UsbfsReports& control, std::size_t index, rig::Step& step)
{
    std::string why;
    const bool done = step.kind == rig::StepKind::SetOutput
                          ? control.SetOutputReport(step.bytes, step.timeLimitMs, why)
                          : step.kind == rig::StepKind::GetInput && control.GetInputReport(step.bytes, step.timeLimitMs, why);
    return done || FailWith(index, why.empty() ? "not a request" : why);
}

bool RunStep(const Paths& paths, std::size_t index, rig::Step& step)
{
    if (paths.control) return RunRequest(*paths.control, index, step);
    const int node = paths.node;
    errno = 0;
    std::vector<std::uint8_t>& bytes = step.bytes;
    const unsigned length = static_cast<unsigned>(bytes.size());
    switch (step.kind) {
    case rig::StepKind::Write:
        return write(node, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) || Fail(index, "write");
    case rig::StepKind::SetOutput:
        return ioctl(node, HIDIOCSOUTPUT(length), bytes.data()) >= 0 || Fail(index, "HIDIOCSOUTPUT");
    case rig::StepKind::GetInput:
        return ioctl(node, HIDIOCGINPUT(length), bytes.data()) > 0 || Fail(index, "HIDIOCGINPUT");
    case rig::StepKind::Read: return ReadWithin(node, bytes, step.timeLimitMs) || Fail(index, "read");
    case rig::StepKind::Flush: Flush(node, bytes); return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    const bool control = argc == 5 && std::string(argv[4]) == "--control";
    const int mode = argc == 4 || control ? std::atoi(argv[1]) : 0;
    if (mode < 1 || mode > 3 || (control && mode != 1)) {
        std::fprintf(stderr, "usage: oskel-hidraw-loop 1|2|3 NODE IMAGE, or oskel-hidraw-loop 1 NODE IMAGE --control\n");
        return kUsage;
    }
    std::ifstream file(argv[3], std::ios::binary);
    const std::vector<std::uint8_t> image{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    std::vector<rig::Step> steps = rig::DownloadSteps(mode, image);
    if (steps.empty()) {
        std::fprintf(stderr, "oskel-hidraw-loop: %s is no image for mode %d\n", argv[3], mode);
        return kFailed;
    }
    Paths paths;
    rig::UsbfsReports usbfs;
    std::string error;
    if (control && !usbfs.Open(argv[2], error)) {
        std::fprintf(stderr, "oskel-hidraw-loop: %s\n", error.c_str());
        return kFailed;
    }
    if (control) paths.control = &usbfs;
    if (!control) paths.node = open(argv[2], O_RDWR | O_CLOEXEC);
    if (!control && paths.node < 0) {
        std::fprintf(stderr, "oskel-hidraw-loop: cannot open %s: %s\n", argv[2], std::strerror(errno));
        return kFailed;
    }

    const auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < steps.size(); ++i) {
        if (!RunStep(paths, i, steps[i])) return kFailed;
    }
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    std::printf("loop mode=%d steps=%zu us=%lld read=%zd\n", mode, steps.size(), static_cast<long long>(us.count()),
                lastRead);
    if (paths.node >= 0) close(paths.node);
    return 0;
}
