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
#include <signal.h>
#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Inhibitor {
    int watched = -1;  // the pipe's read end: it hangs up when the holder lets go
    std::string what;
};

std::FILE* record = nullptr;
std::vector<Inhibitor> inhibitors;

std::uint64_t NowUs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}

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
    std::fprintf(record, "taken-us=%" PRIu64 " what=%s who=%s mode=%s\n", NowUs(), what, who, mode);
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

void NoteReleased()
{
    for (auto inhibitor = inhibitors.begin(); inhibitor != inhibitors.end();) {
        pollfd ready{inhibitor->watched, POLLIN, 0};
        if (poll(&ready, 1, 0) == 1 && (ready.revents & (POLLHUP | POLLIN)) != 0) {
            std::fprintf(record, "released-us=%" PRIu64 " what=%s\n", NowUs(), inhibitor->what.c_str());
            std::fflush(record);
            close(inhibitor->watched);
            inhibitor = inhibitors.erase(inhibitor);
        } else {
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
    sd_bus* bus = nullptr;
    int result = record ? sd_bus_open_system(&bus) : -errno;
    if (result >= 0) {
        result = sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                          kManager, nullptr);
    }
    if (result >= 0) result = sd_bus_request_name(bus, "org.freedesktop.login1", 0);
    if (result < 0) {
        std::fprintf(stderr, "oskel-fake-logind: %s\n", std::strerror(-result));
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    sigset_t end;
    sigemptyset(&end);
    sigaddset(&end, SIGTERM);
    sigprocmask(SIG_BLOCK, &end, nullptr);
    for (;;) {
        while ((result = sd_bus_process(bus, nullptr)) > 0) {
        }
        if (result < 0) break;
        NoteReleased();
        std::vector<pollfd> watched{{sd_bus_get_fd(bus), static_cast<short>(sd_bus_get_events(bus)), 0}};
        for (const Inhibitor& inhibitor : inhibitors) watched.push_back({inhibitor.watched, POLLIN, 0});
        timespec limit{0, 100000000};
        ppoll(watched.data(), watched.size(), &limit, nullptr);
        sigset_t pending;
        sigpending(&pending);
        if (sigismember(&pending, SIGTERM)) break;
    }
    NoteReleased();
    sd_bus_flush_close_unref(bus);
    std::fclose(record);
    return 0;
}
