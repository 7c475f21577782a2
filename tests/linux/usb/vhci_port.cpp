#include "tests/linux/usb/vhci_port.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace rig {
namespace {

constexpr char kController[] = "/sys/devices/platform/vhci_hcd.0";
constexpr unsigned kFullSpeed = 2;       // enum usb_device_speed: USB_SPEED_FULL
constexpr unsigned kPortFree = 4;        // VDEV_ST_NULL in the status file
constexpr unsigned kLargestPort = 9999;  // the status file prints ports with four digits

std::string SystemError(const std::string& operation)
{
    return operation + ": " + std::strerror(errno);
}

// The free ports of the controller's USB 2.0 hub (the one that takes full-speed devices), from
// its status file: "hs  <port> <status> ...".
std::vector<unsigned> FreePorts(std::string& error)
{
    std::ifstream status(std::string(kController) + "/status");
    if (!status) {
        error = std::string("cannot read ") + kController + "/status (is vhci-hcd loaded?)";
        return {};
    }
    std::vector<unsigned> ports;
    std::string line;
    while (std::getline(status, line)) {
        std::istringstream fields(line);
        std::string hub;
        unsigned port = 0;
        unsigned state = 0;
        if (fields >> hub >> port >> state && hub == "hs" && state == kPortFree && port <= kLargestPort)
            ports.push_back(port);
    }
    if (ports.empty()) error = "no free port on the USB 2.0 hub of vhci_hcd.0";
    return ports;
}

bool WriteControl(const char* file, const std::string& text, std::string& error)
{
    const std::string path = std::string(kController) + "/" + file;
    const int control = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (control < 0) {
        error = SystemError("open " + path);
        return false;
    }
    const ssize_t written = write(control, text.data(), text.size());
    const int writeError = errno;
    close(control);
    errno = writeError;
    if (written != static_cast<ssize_t>(text.size())) {
        error = SystemError("write \"" + text + "\" to " + path);
        return false;
    }
    return true;
}

void NoDelay(int socket)
{
    const int on = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// A connected pair of TCP sockets on the loopback interface, small writes sent at once.
bool ConnectedPair(int& hostSide, int& deviceSide, std::string& error)
{
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0) {
        error = SystemError("socket");
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bool ready = bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                 listen(listener, 1) == 0 &&
                 getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) == 0;
    if (!ready) error = SystemError("listen on the loopback interface (is it up?)");
    hostSide = ready ? socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0) : -1;
    if (ready && (hostSide < 0 || connect(hostSide, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)) {
        error = SystemError("connect");
        ready = false;
    }
    deviceSide = ready ? accept4(listener, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    if (ready && deviceSide < 0) {
        error = SystemError("accept");
        ready = false;
    }
    close(listener);
    if (!ready) {
        if (hostSide >= 0) close(hostSide);
        if (deviceSide >= 0) close(deviceSide);
        return false;
    }
    NoDelay(hostSide);
    NoDelay(deviceSide);
    return true;
}

}  // namespace

VhciPort::~VhciPort()
{
    if (deviceSocket_ >= 0) close(deviceSocket_);
}

bool VhciPort::Attach(int& deviceSocket, std::string& error)
{
    const std::vector<unsigned> ports = FreePorts(error);
    if (ports.empty()) return false;
    int hostSide = -1;
    int deviceSide = -1;
    if (!ConnectedPair(hostSide, deviceSide, error)) return false;
    for (unsigned port : ports) {
        // The device id only names the device in the commands; the kernel gives it its address.
        const unsigned devid = 1u << 16 | (port + 2);
        const std::string attach = std::to_string(port) + " " + std::to_string(hostSide) + " " +
                                   std::to_string(devid) + " " + std::to_string(kFullSpeed);
        if (WriteControl("attach", attach, error)) {
            // The kernel holds the host's side now.
            close(hostSide);
            port_ = static_cast<int>(port);
            deviceSocket_ = deviceSide;
            deviceSocket = deviceSide;
            return true;
        }
        if (errno != EBUSY) break;  // taken meanwhile: the next one
    }
    close(hostSide);
    close(deviceSide);
    return false;
}

bool VhciPort::Detach(std::string& error)
{
    if (port_ < 0) return true;
    const int port = port_;
    port_ = -1;
    return WriteControl("detach", std::to_string(port), error);
}

}  // namespace rig
