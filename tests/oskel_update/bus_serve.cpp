#include "bus_serve.h"

#include <signal.h>
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

sd_bus* ServeOpen(bool system, const char* name, const char* path, const char* interface, const sd_bus_vtable* vtable,
                  const char* program)
{
    sd_bus* bus = nullptr;
    int result = system ? sd_bus_open_system(&bus) : sd_bus_open_user(&bus);
    if (result >= 0) result = sd_bus_add_object_vtable(bus, nullptr, path, interface, vtable, nullptr);
    if (result >= 0) result = sd_bus_request_name(bus, name, 0);
    if (result < 0) {
        std::fprintf(stderr, "%s: %s\n", program, std::strerror(-result));
        sd_bus_unref(bus);
        return nullptr;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return bus;
}

void ServeUntilTerm(sd_bus* bus, ServeRound each)
{
    sigset_t end;
    sigemptyset(&end);
    sigaddset(&end, SIGTERM);
    sigprocmask(SIG_BLOCK, &end, nullptr);
    for (;;) {
        int result;
        while ((result = sd_bus_process(bus, nullptr)) > 0) {
        }
        if (result < 0) break;
        std::vector<pollfd> watched{{sd_bus_get_fd(bus), static_cast<short>(sd_bus_get_events(bus)), 0}};
        if (each) each(watched);
        timespec limit{0, 100000000};
        ppoll(watched.data(), watched.size(), &limit, nullptr);
        sigset_t pending;
        sigpending(&pending);
        if (sigismember(&pending, SIGTERM)) break;
    }
    if (each) {
        std::vector<pollfd> last;
        each(last);
    }
    sd_bus_flush_close_unref(bus);
}

std::uint64_t ServeNowUs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}
