// oskel-sim: runs the updater's own logic against one simulated device.
//
// The Start road presses "Start" once; the arrival road plugs the device in, with one arrival
// notification per interface as the system sends them. Every message box is answered with OK.
// Exit status: 0 when a download succeeded, 1 otherwise, 2 for bad usage.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "app/dialog_logic.h"
#include "state/download_state.h"
#include "oskel_version.h"
#include "sim/broadcast.h"
#include "sim/bus_capture.h"
#include "sim/cli/capture_command.h"
#include "sim/cli/options.h"
#include "models/models.h"
#include "sim/trace.h"
#include "sim/world.h"

namespace {

constexpr std::uint32_t kDeviceArrival = 0x8000;

void PlugAndAnnounce(const std::shared_ptr<models::HidDevice>& device)
{
    sim::Plug(device);
    for (std::size_t i = 0; i < device->collections.size(); ++i) {
        std::vector<std::uint8_t> record = sim::MakeInterfaceBroadcast(device->PathOf(i));
        DialogDeviceChange(sim::kDialogWindow, kDeviceArrival, record.data());
        sim::DeliverPostedMessages();
    }
}

bool DownloadSucceeded()
{
    for (platform::DownloadOutcome outcome : sim::Dialog().outcomes) {
        if (outcome == platform::DownloadOutcome::Succeeded) return true;
    }
    return false;
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv)
{
    sim::CliOptions options;
    std::string error;
    if (!sim::ParseCliOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "oskel-sim: %s\n%s", error.c_str(), sim::CliUsage());
        return 2;
    }
    if (options.help) {
        std::fputs(sim::CliUsage(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("oskel-sim %s\n", OSKEL_VERSION_TEXT);
        return 0;
    }
    if (!options.checkCapturePath.empty()) return sim::RunCaptureCheck(options);
    if (!options.listDevicesPath.empty()) return sim::RunListDevices(options);
    const sim::BusPlace place{options.bus, options.address};
    if (!options.pcapPath.empty() && !sim::BusCaptureOpen(options.pcapPath, options.pcapLink, place, error)) {
        std::fprintf(stderr, "oskel-sim: %s\n", error.c_str());
        return 2;
    }
    if (!sim::TraceOpen(options.tracePath)) {
        std::fprintf(stderr, "oskel-sim: cannot write the trace to %s\n", options.tracePath.c_str());
        return 2;
    }
    if (!sim::PrepareWorld(options, error)) {
        std::fprintf(stderr, "oskel-sim: %s\n%s", error.c_str(), sim::CliUsage());
        sim::TraceClose();
        return 2;
    }
    sim::SetConsoleEcho(true);

    std::shared_ptr<models::HidDevice> device = sim::MakeConfiguredDevice(options, error);
    if (!device) {
        std::fprintf(stderr, "oskel-sim: %s\n%s", error.c_str(), sim::CliUsage());
        sim::TraceClose();
        return 2;
    }

    DialogCreateLink();
    if (options.arrivalRoad) {
        PlugAndAnnounce(device);
    } else {
        sim::Plug(device);
        DialogStart(sim::kDialogWindow);
    }
    if (!sim::WaitForThreads()) std::fprintf(stderr, "oskel-sim: the download did not end\n");
    DialogDestroyLink();
    sim::SetConsoleEcho(false);

    if (!options.flashPath.empty() && !WriteFile(options.flashPath, device->Flash())) {
        std::fprintf(stderr, "oskel-sim: cannot write the flash to %s\n", options.flashPath.c_str());
    }
    for (const std::string& problem : device->protocolErrors) {
        std::fprintf(stderr, "device: %s\n", problem.c_str());
    }
    int status = DownloadSucceeded() ? 0 : 1;
    if (!sim::BusCaptureClose(error)) {
        std::fprintf(stderr, "oskel-sim: %s\n", error.c_str());
        status = 1;
    }
    sim::TraceLine("exit " + std::to_string(status));
    sim::TraceClose();
    return status;
}
