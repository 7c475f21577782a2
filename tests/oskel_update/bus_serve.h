// What the rig's stand-ins for the system's services share (test rig only, never shipped): a
// bus connection that owns a name and serves it until SIGTERM.
#pragma once

#include <poll.h>
#include <systemd/sd-bus.h>

#include <cstdint>
#include <vector>

// Opens the system bus (or the session bus), exports vtable at path and interface, owns name and
// says "ready" on standard output. Null, with the reason on standard error, when any step fails.
sd_bus* ServeOpen(bool system, const char* name, const char* path, const char* interface, const sd_bus_vtable* vtable,
                  const char* program);

// Serves the bus until SIGTERM (blocked from here on). Between two rounds, each(more) may add
// descriptors of its own to poll (read end of an inhibitor, say) and look at them.
using ServeRound = void (*)(std::vector<pollfd>& more);
void ServeUntilTerm(sd_bus* bus, ServeRound each);

// The monotonic clock in microseconds (the rig controllers' clock).
std::uint64_t ServeNowUs();
