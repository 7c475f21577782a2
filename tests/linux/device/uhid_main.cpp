// The rig's controller behind the Linux kernel's HID stack (test rig only, runs in the test
// machine as root, linked statically so that it needs nothing there):
//
//   oskel-uhid-rig VID:PID [--hid-bus N] [--name TEXT] [--record FOLDER] [--latency MS]
//                  [fault and model options]
//
// plugs in one simulated controller of that vendor and product through /dev/uhid (see
// uhid_controller.h) and serves it until it is told to end (controller_program.h: the options,
// the record and the exit status). --hid-bus gives the bus of its HID id (decimal: 3 USB, the
// default, 5 Bluetooth), --name its name as a device's strings would (at most 127 bytes).
//
// The real-time class matters here: uhid takes output reports without waiting for the device,
// and drops them when its queue of 32 events is full, so the device must take each one before
// the host can write many more. A real controller's interrupt pipe paces its host instead.
#include <linux/input.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "tests/linux/device/controller_program.h"
#include "tests/linux/device/uhid_controller.h"

namespace {

constexpr char kProgram[] = "oskel-uhid-rig";

}  // namespace

int main(int argc, char** argv)
{
    // This rig's own options first; the rest are the shared ones.
    std::uint32_t bus = BUS_USB;
    std::string name;
    std::vector<char*> shared;
    for (int i = 0; i < argc; ++i) {
        const std::string option = argv[i];
        if ((option == "--hid-bus" || option == "--name") && i + 1 < argc) {
            if (option == "--name") name = argv[++i];
            else if (!rig::ParseNumber(argv[++i], bus) || bus > 0xFFFF) bus = 0x10000;
            continue;
        }
        shared.push_back(argv[i]);
    }
    if (bus > 0xFFFF || name.size() > 127) {
        std::fprintf(stderr, "%s: --hid-bus takes a number below 65536, --name at most 127 bytes\n", kProgram);
        return rig::kControllerUsage;
    }
    shared.push_back(nullptr);
    rig::ControllerSettings settings;
    if (const int status = rig::ParseControllerCommandLine(kProgram, static_cast<int>(shared.size() - 1), shared.data(), settings);
        status != 0)
        return status;
    if (!rig::PrepareControllerProcess(kProgram, settings)) return rig::kControllerFailed;

    rig::UhidController controller(rig::MakeControllerModel(settings));
    controller.SetIdentity(static_cast<std::uint16_t>(bus), name);
    std::string error;
    if (!controller.Plug(error)) {
        std::fprintf(stderr, "%s: %04x:%04x: %s\n", kProgram, settings.vendorId, settings.productId, error.c_str());
        return rig::kControllerFailed;
    }
    std::thread([&controller] {
        std::string why;
        controller.Serve(why);
        std::fprintf(stderr, "%s: %s\n", kProgram, why.c_str());
    }).detach();
    rig::ServeUntilEnded(kProgram, settings, controller.Model(), controller.Descriptor(), controller.Times());
}
