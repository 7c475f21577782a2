// A port of the kernel's USB/IP virtual host controller (vhci-hcd, its first controller), into
// which this process plugs a device of its own: it makes a connected pair of TCP sockets on the
// loopback interface, hands one end to the kernel through the controller's "attach" file
// (port, socket descriptor, device id, speed) and keeps the other, on which the kernel then sends
// the device its USB/IP commands (usbip_wire.h). Unplugging writes the port to the "detach" file;
// the kernel then ends the connection and gives every pending transfer back as failed.
#pragma once

#include <cstdint>
#include <string>

namespace rig {

class VhciPort {
public:
    VhciPort() = default;
    ~VhciPort();
    VhciPort(const VhciPort&) = delete;
    VhciPort& operator=(const VhciPort&) = delete;

    // Plugs a full-speed device into the first free port; the socket of the device's side in
    // deviceSocket (this object owns it). False, with the reason, when no port takes it.
    bool Attach(int& deviceSocket, std::string& error);
    // Unplugs it (once; later calls do nothing). False, with the reason, when the kernel refuses.
    bool Detach(std::string& error);

    int Port() const { return port_; }

private:
    int port_ = -1;
    int deviceSocket_ = -1;
};

}  // namespace rig
