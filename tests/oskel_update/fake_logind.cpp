// A stand-in for systemd-logind on the test machine's system bus (test rig only, never shipped):
//
//   oskel-fake-logind RECORD
//
// owns org.freedesktop.login1 and answers org.freedesktop.login1.Manager.Inhibit(what, who, why,
// mode) as logind does: with one end of a pipe, whose closing lets the inhibitor go. RECORD gets
// one line when an inhibitor is taken and one when it is let go, with the monotonic clock in
// microseconds (the rig controllers' clock):
//
//   taken-us=<n> what=<what> who=<who> mode=<mode>
//   released-us=<n> what=<what>
//
// "ready" on standard output tells that the name is owned. Runs until SIGTERM.
#include <fcntl.h>
#include <poll.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bus_serve.h"

namespace {

struct Inhibitor {
    int watched = -1;  // the pipe's read end: it hangs up when the holder lets go
    std::string what;
};

std::FILE* record = nullptr;
std::vector<Inhibitor> inhibitors;

int Inhibit(sd_bus_message* message, void*, sd_bus_error*)
{
    const char* what = nullptr;
    const char* who = nullptr;
    const char* why = nullptr;
    const char* mode = nullptr;
    int result = sd_bus_message_read(message, "ssss", &what, &who, &why, &mode);
    if (result < 0) return result;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return -errno;
    std::fprintf(record, "taken-us=%" PRIu64 " what=%s who=%s mode=%s\n", ServeNowUs(), what, who, mode);
    std::fflush(record);
    inhibitors.push_back({ends[0], what});
    result = sd_bus_reply_method_return(message, "h", ends[1]);
    close(ends[1]);  // the reply carries its own copy
    return result;
}

const sd_bus_vtable kManager[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Inhibit", "ssss", "h", Inhibit, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

// Notes the inhibitors let go since the last round, and watches the others.
void NoteReleased(std::vector<pollfd>& watched)
{
    for (auto inhibitor = inhibitors.begin(); inhibitor != inhibitors.end();) {
        pollfd ready{inhibitor->watched, POLLIN, 0};
        if (poll(&ready, 1, 0) == 1 && (ready.revents & (POLLHUP | POLLIN)) != 0) {
            std::fprintf(record, "released-us=%" PRIu64 " what=%s\n", ServeNowUs(), inhibitor->what.c_str());
            std::fflush(record);
            close(inhibitor->watched);
            inhibitor = inhibitors.erase(inhibitor);
        } else {
            watched.push_back({inhibitor->watched, POLLIN, 0});
            ++inhibitor;
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: oskel-fake-logind RECORD\n");
        return 2;
    }
    record = std::fopen(argv[1], "w");
    if (record == nullptr) {
        std::fprintf(stderr, "oskel-fake-logind: %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    sd_bus* bus = ServeOpen(true, "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                            kManager, "oskel-fake-logind");
    if (bus == nullptr) return 1;
    ServeUntilTerm(bus, NoteReleased);
    std::fclose(record);
    return 0;
}
