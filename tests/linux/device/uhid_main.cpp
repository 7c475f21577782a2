// The rig's controller behind the Linux kernel's HID stack (test rig only, runs in the test
// machine as root, linked statically so that it needs nothing there):
//
//   oskel-uhid-rig VID:PID [--record FOLDER] [--latency MS] [fault and model options]
//
// plugs in one simulated controller of that vendor and product through /dev/uhid (see
// uhid_controller.h) and serves it until it is told to end (controller_program.h: the options,
// the record and the exit status).
//
// The real-time class matters here: uhid takes output reports without waiting for the device,
// and drops them when its queue of 32 events is full, so the device must take each one before
// the host can write many more. A real controller's interrupt pipe paces its host instead.
#include <cstdio>
#include <string>
#include <thread>

#include "tests/linux/device/controller_program.h"
#include "tests/linux/device/uhid_controller.h"

namespace {

constexpr char kProgram[] = "oskel-uhid-rig";

}  // namespace

int main(int argc, char** argv)
{
    rig::ControllerSettings settings;
    if (const int status = rig::ParseControllerCommandLine(kProgram, argc, argv, settings); status != 0) return status;
    if (!rig::PrepareControllerProcess(kProgram, settings)) return rig::kControllerFailed;

    rig::UhidController controller(rig::MakeControllerModel(settings));
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
