// The bare loop (test rig only): one mode's whole download through a hidraw node, each report
// written and each reply read as fast as the node takes them, with nothing else around it.
//
//   oskel-hidraw-loop MODE NODE IMAGE
//
// MODE 1, 2 or 3; NODE the controller's hidraw node; IMAGE the firmware image. It sends the
// reports of download_steps.h, each bounded by the updater's time limit for it (poll for a
// reply; hidraw's writes and ioctls return as soon as the transport has the report). Prints
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

namespace {

constexpr int kUsage = 2;
constexpr int kFailed = 1;

bool Fail(std::size_t index, const char* operation)
{
    std::fprintf(stderr, "oskel-hidraw-loop: step %zu, %s: %s\n", index, operation,
                 errno != 0 ? std::strerror(errno) : "no answer in time");
    return false;
}

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

bool RunStep(int node, std::size_t index, rig::Step& step)
{
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
    const int mode = argc == 4 ? std::atoi(argv[1]) : 0;
    if (mode < 1 || mode > 3) {
        std::fprintf(stderr, "usage: oskel-hidraw-loop 1|2|3 NODE IMAGE\n");
        return kUsage;
    }
    std::ifstream file(argv[3], std::ios::binary);
    const std::vector<std::uint8_t> image{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    std::vector<rig::Step> steps = rig::DownloadSteps(mode, image);
    if (steps.empty()) {
        std::fprintf(stderr, "oskel-hidraw-loop: %s is no image for mode %d\n", argv[3], mode);
        return kFailed;
    }
    const int node = open(argv[2], O_RDWR | O_CLOEXEC);
    if (node < 0) {
        std::fprintf(stderr, "oskel-hidraw-loop: cannot open %s: %s\n", argv[2], std::strerror(errno));
        return kFailed;
    }

    const auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < steps.size(); ++i) {
        if (!RunStep(node, i, steps[i])) return kFailed;
    }
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    std::printf("loop mode=%d steps=%zu us=%lld read=%zd\n", mode, steps.size(), static_cast<long long>(us.count()),
                lastRead);
    close(node);
    return 0;
}
