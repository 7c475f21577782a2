// The rig's controller on the Linux kernel's USB host stack (test rig only, runs in the test
// machine as root, linked statically so that it needs nothing there):
//
//   oskel-usbip-rig VID:PID [--record FOLDER] [--latency MS] [fault and model options]
//
// plugs one simulated controller of that vendor and product into a port of the kernel's USB/IP
// virtual host controller (vhci_port.h) as a full-speed USB device (usb_controller.h), which
// usbcore enumerates and usbhid binds, and serves its transfers at the bus's pace
// (usbip_session.h) until it is told to end (controller_program.h: the options, the record and
// the exit status). A removal fault unplugs it from its port; the end of the program does too.
#include <cstdio>
#include <string>
#include <thread>

#include "tests/linux/device/controller_program.h"
#include "tests/linux/usb/usb_controller.h"
#include "tests/linux/usb/usbip_session.h"
#include "tests/linux/usb/vhci_port.h"

namespace {

constexpr char kProgram[] = "oskel-usbip-rig";

}  // namespace

int main(int argc, char** argv)
{
    rig::ControllerSettings settings;
    if (const int status = rig::ParseControllerCommandLine(kProgram, argc, argv, settings); status != 0) return status;
    if (!rig::PrepareControllerProcess(kProgram, settings)) return rig::kControllerFailed;

    rig::UsbController controller(rig::MakeControllerModel(settings));
    controller.Plug();
    rig::VhciPort port;
    int socket = -1;
    std::string error;
    if (!port.Attach(socket, error)) {
        std::fprintf(stderr, "%s: %04x:%04x: %s\n", kProgram, settings.vendorId, settings.productId, error.c_str());
        return rig::kControllerFailed;
    }
    rig::UsbipSession session(socket, controller);
    std::thread([&session] {
        std::string why;
        session.Receive(why);
        std::fprintf(stderr, "%s: %s\n", kProgram, why.c_str());
    }).detach();
    std::thread([&session, &port] {
        session.Serve([&port] {
            std::string why;
            if (!port.Detach(why)) std::fprintf(stderr, "%s: unplug: %s\n", kProgram, why.c_str());
        });
    }).detach();
    rig::ServeUntilEnded(kProgram, settings, controller.Model(), controller.ReportDescriptor(), controller.Times());
}
