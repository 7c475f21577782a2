// The kernel's own record of a USB bus, as a capture file (test rig only, runs in the test
// machine as root, linked statically):
//
//   oskel-usbmon-record BUS FILE
//
// reads every event of bus BUS (0: every bus) from usbmon's binary interface /dev/usbmonBUS, one
// MON_IOCX_GETX at a time (the 64-byte header of pcap's link type 220 and the data the kernel
// kept), and writes each as it came into FILE, a pcapng file of link type 220 made by the
// project's capture writer (capture/capture_writer.h), stamped with the kernel's own time. It
// prints "recording" once the bus is open, and ends at SIGTERM or SIGINT after taking the events
// still waiting, with "usbmon events=<n> dropped=<n>" (dropped: events the kernel could not keep
// because its buffer was full).
//
// Exit status: 0 when every event was written and none was dropped, 1 otherwise (why on standard
// error), 2 for bad usage.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "capture/capture_format.h"
#include "capture/capture_writer.h"

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr char kProgram[] = "oskel-usbmon-record";

// usbmon's binary interface (the kernel's drivers/usb/mon/mon_bin.c; no uapi header has it).
struct MonBinGet {
    void* header;  // 64 bytes for MON_IOCX_GETX
    void* data;
    std::size_t alloc;
};
struct MonBinStats {
    std::uint32_t queued;
    std::uint32_t dropped;
};
constexpr unsigned kMonMagic = 0x92;
constexpr unsigned long kMonStats = _IOR(kMonMagic, 3, MonBinStats);
constexpr unsigned long kMonSetRingSize = _IO(kMonMagic, 4);
constexpr unsigned long kMonGetEvent = _IOW(kMonMagic, 10, MonBinGet);

// The kernel's buffer: room for a whole download's events while this program is not scheduled
// (the default holds 300 KiB).
constexpr unsigned long kRingBytes = 8ul << 20;
// The data of one event: the kernel keeps at most a fifth of its buffer per event.
constexpr std::size_t kLargestData = kRingBytes / 5;
constexpr int kLargestBus = 255;

using Field = capture::UsbmonField;

template <typename T>
T HeaderValue(const std::vector<std::uint8_t>& packet, std::size_t at)
{
    T value;
    std::memcpy(&value, packet.data() + at, sizeof value);
    return value;
}

// Takes one event into packet (header, then data); false when none is waiting.
bool TakeEvent(int monitor, std::vector<std::uint8_t>& packet, std::vector<std::uint8_t>& data, std::string& error)
{
    packet.assign(Field::kSize, 0);
    MonBinGet get{packet.data(), data.data(), data.size()};
    if (ioctl(monitor, kMonGetEvent, &get) != 0) {
        if (errno != EAGAIN && errno != EINTR) error = std::string("MON_IOCX_GETX: ") + std::strerror(errno);
        return false;
    }
    // The header says how much data the kernel kept; the copy holds at most the buffer.
    const auto kept = HeaderValue<std::uint32_t>(packet, Field::kCaptured);
    const std::uint32_t copied = std::min<std::uint32_t>(kept, static_cast<std::uint32_t>(data.size()));
    std::memcpy(packet.data() + Field::kCaptured, &copied, sizeof copied);
    packet.insert(packet.end(), data.begin(), data.begin() + copied);
    return true;
}

std::uint64_t EventTimeUs(const std::vector<std::uint8_t>& packet)
{
    const auto seconds = HeaderValue<std::int64_t>(packet, Field::kSeconds);
    const auto micros = HeaderValue<std::int32_t>(packet, Field::kMicros);
    if (seconds < 0 || micros < 0 || micros >= 1000000) return 0;
    return static_cast<std::uint64_t>(seconds) * 1000000 + static_cast<std::uint64_t>(micros);
}

}  // namespace

int main(int argc, char** argv)
{
    char* end = nullptr;
    const long bus = argc == 3 ? std::strtol(argv[1], &end, 10) : -1;
    if (argc != 3 || *end != '\0' || bus < 0 || bus > kLargestBus) {
        std::fprintf(stderr, "usage: %s BUS FILE\n", kProgram);
        return kUsage;
    }
    sigset_t endSignals;
    sigemptyset(&endSignals);
    sigaddset(&endSignals, SIGTERM);
    sigaddset(&endSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &endSignals, nullptr);
    const int signals = signalfd(-1, &endSignals, SFD_CLOEXEC);

    const std::string device = "/dev/usbmon" + std::to_string(bus);
    const int monitor = open(device.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (monitor < 0 || signals < 0) {
        std::fprintf(stderr, "%s: cannot open %s: %s\n", kProgram, device.c_str(), std::strerror(errno));
        return kFailed;
    }
    if (ioctl(monitor, kMonSetRingSize, kRingBytes) != 0)
        std::fprintf(stderr, "%s: %s keeps its own buffer size: %s\n", kProgram, device.c_str(), std::strerror(errno));
    std::string error;
    if (!capture::CaptureOpen(argv[2], capture::CaptureLink::Usbmon, error, "usbmon" + std::to_string(bus))) {
        std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
        return kFailed;
    }
    std::printf("recording %s\n", device.c_str());
    std::fflush(stdout);

    std::vector<std::uint8_t> packet;
    std::vector<std::uint8_t> data(kLargestData);
    std::uint64_t events = 0;
    bool ending = false;
    while (error.empty()) {
        pollfd waiting[2] = {{monitor, POLLIN, 0}, {signals, POLLIN, 0}};
        // Once told to end, only what is waiting already.
        const int ready = poll(waiting, ending ? 1 : 2, ending ? 0 : -1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) {
            error = std::string("poll: ") + std::strerror(errno);
            break;
        }
        if (!ending && (waiting[1].revents & POLLIN) != 0) ending = true;
        bool took = false;
        while (TakeEvent(monitor, packet, data, error)) {
            capture::CapturePacket(packet.data(), packet.size(), EventTimeUs(packet));
            ++events;
            took = true;
        }
        if (ending && !took) break;
    }
    MonBinStats stats{};
    if (ioctl(monitor, kMonStats, &stats) != 0 && error.empty())
        error = std::string("MON_IOCG_STATS: ") + std::strerror(errno);
    std::string closeError;
    if (!capture::CaptureClose(closeError) && error.empty()) error = closeError;
    std::printf("usbmon events=%" PRIu64 " dropped=%u\n", events, stats.dropped);
    if (!error.empty()) std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
    return error.empty() && stats.dropped == 0 ? 0 : kFailed;
}
