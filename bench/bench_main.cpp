// How close each download comes to what the USB link allows, what the updater itself adds, and
// how much heap a download takes and gives back.
//
//   oskel_bench           the full run, whose figures docs/performance.md gives
//   oskel_bench --quick   a short run of every part (a few seconds); the heap check still holds
//
// Nothing here asserts on time. The exit status is 1 only when a download fails or when the heap
// grows over the repeated downloads.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/heap_counter.h"
#include "bench/replay.h"
#include "image/firmware_buffer.h"
#include "sim/scenario.h"

namespace {

struct Settings {
    bool quick = false;
    int overheadRuns = 25;     // whole downloads per mode for the host overhead
    int linkModes[3] = {1, 2, 3};
    int linkModeCount = 3;
    int heapDownloads = 1000;  // downloads for the heap growth
};

bool failed = false;

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

std::shared_ptr<models::HidDevice> PlugModel(int mode, std::uint32_t latencyMs)
{
    auto device = sim::MakeRecordedDevice(mode);
    device->latencyMs = latencyMs;
    sim::Plug(device);
    return device;
}

// One whole download through the arrival road in a world of its own; seconds from the arrival
// to the end of the worker, operations counted by the bus.
bool WholeDownload(int mode, std::uint32_t latencyMs, double& seconds, std::uint32_t& operations,
                   sim::Road road = sim::Road::Arrival)
{
    sim::BeginWorld({1000, false});
    auto device = PlugModel(mode, latencyMs);
    const sim::Outcome outcome = sim::RunDownload(road, mode, device, 120000);
    seconds = outcome.seconds;
    operations = sim::DeviceOperations(*device);
    const bool ok = outcome.Succeeded() && device->DownloadComplete();
    device.reset();
    const sim::WorldEnd end = sim::EndWorld();
    return ok && end.threadsEnded && end.openHandles == 0 && end.bufferReleased;
}

void HostOverhead(const Settings& settings)
{
    std::printf("\nHost overhead (no link latency; median of %d runs each)\n", settings.overheadRuns);
    std::printf("  %-6s %6s %16s %16s %8s\n", "mode", "ops", "updater us/op", "bare loop us/op", "ratio");
    for (int mode = 1; mode <= 3; ++mode) {
        const std::vector<bench::LinkOperation> operations = bench::CaptureDownload(mode);
        std::vector<double> updater, bare;
        std::uint32_t count = 0;
        for (int run = 0; run < settings.overheadRuns; ++run) {
            double seconds = 0;
            if (!WholeDownload(mode, 0, seconds, count)) failed = true;
            updater.push_back(seconds);
            if (!bench::Replay(mode, operations, 0, seconds)) failed = true;
            bare.push_back(seconds);
        }
        if (count != operations.size()) failed = true;
        const double perUpdater = Median(updater) * 1e6 / count;
        const double perBare = Median(bare) * 1e6 / static_cast<double>(operations.size());
        std::printf("  %-6d %6u %16.2f %16.2f %8.2f\n", mode, count, perUpdater, perBare, perUpdater / perBare);
    }
}

void LinkBound(const Settings& settings)
{
    std::printf("\nLink-bound time (1 ms per report and per reply)\n");
    std::printf("  %-6s %6s %12s %12s %8s %14s\n", "mode", "ops", "download s", "floor s", "ratio",
                settings.quick ? "" : "bare loop s");
    for (int i = 0; i < settings.linkModeCount; ++i) {
        const int mode = settings.linkModes[i];
        double seconds = 0;
        std::uint32_t count = 0;
        if (!WholeDownload(mode, 1, seconds, count)) failed = true;
        const double floor = count * 1e-3;
        std::printf("  %-6d %6u %12.3f %12.3f %8.3f", mode, count, seconds, floor, seconds / floor);
        if (!settings.quick) {
            // The same reports with no updater around them: what the simulator's 1 ms costs.
            double bare = 0;
            if (!bench::Replay(mode, bench::CaptureDownload(mode), 1, bare)) failed = true;
            std::printf(" %14.3f", bare);
        }
        std::printf("\n");
    }
}

// Waits until finished worker threads have given back what they held.
std::int64_t SettledLiveBytes()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return heap::LiveBytes();
}

// The live bytes once the last worker threads have let go of what they hold: a thread that has
// reported its end may still be freeing its own state, later on a loaded machine. Waits up to 2 s
// for the count to come back to target; a leak stays above it.
std::int64_t LiveBytesSettlingAt(std::int64_t target)
{
    std::int64_t live = SettledLiveBytes();
    for (int i = 0; i < 100 && live != target; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        live = heap::LiveBytes();
    }
    return live;
}

void Memory(const Settings& settings)
{
    std::printf("\nHeap (C++ allocations of the whole process, counted by operator new/delete)\n");
    std::printf("  %-6s %16s %16s\n", "mode", "peak above idle", "image buffer");
    for (int mode = 1; mode <= 3; ++mode) {
        sim::BeginWorld({1000, false});
        auto device = PlugModel(mode, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const std::int64_t idle = heap::LiveBytes();
        heap::ResetPeak();
        const sim::Outcome outcome = sim::RunDownload(sim::Road::Arrival, mode, device);
        const std::int64_t peak = heap::PeakBytes() - idle;
        const std::size_t buffer = firmwareBuffer.size;
        if (!outcome.Succeeded()) failed = true;
        device.reset();
        sim::EndWorld();
        std::printf("  %-6d %16lld %16zu\n", mode, static_cast<long long>(peak), buffer);
    }

    // Every mode by every road it has, each download in a dialog of its own, as many times as
    // asked; the heap must come back to where it was after the first round.
    struct Kind {
        int mode;
        sim::Road road;
    };
    const Kind kinds[] = {{1, sim::Road::Arrival}, {2, sim::Road::Arrival}, {2, sim::Road::Start},
                          {3, sim::Road::Arrival}, {3, sim::Road::Start}};
    double seconds = 0;
    std::uint32_t count = 0;
    for (const Kind& kind : kinds) {
        if (!WholeDownload(kind.mode, 0, seconds, count, kind.road)) failed = true;
    }
    const std::int64_t before = SettledLiveBytes();
    for (int i = 0; i < settings.heapDownloads; ++i) {
        const Kind& kind = kinds[i % 5];
        if (!WholeDownload(kind.mode, 0, seconds, count, kind.road)) failed = true;
    }
    const std::int64_t growth = LiveBytesSettlingAt(before) - before;
    std::printf("  heap growth over %d downloads (modes 1-3, both roads): %lld bytes\n", settings.heapDownloads,
                static_cast<long long>(growth));
    if (growth != 0) {
        std::printf("  FAIL: the heap grew\n");
        failed = true;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            settings.quick = true;
            settings.overheadRuns = 3;
            settings.linkModes[0] = 2;
            settings.linkModeCount = 1;
            settings.heapDownloads = 25;
        } else {
            std::fprintf(stderr, "usage: oskel_bench [--quick]\n");
            return 2;
        }
    }
    std::printf("oskel_bench%s\n", settings.quick ? " --quick" : "");
    HostOverhead(settings);
    LinkBound(settings);
    Memory(settings);
    if (failed) std::printf("\nFAILED: a download failed or the heap grew\n");
    return failed ? 1 : 0;
}
