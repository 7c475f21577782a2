// libsystemd's functions that the program calls (the inhibitor's sd-bus calls in the session
// guard, the seat in the access check), forwarded to libsystemd.so.0 or, where it is absent,
// elogind's libelogind.so.0, loaded at run time (loaded_library.h). Where neither loads, each
// fails as it would without a system bus or logind, and the first attempt to reach logind's
// inhibitor says once what the download goes on without.
#include <systemd/sd-bus.h>
#include <systemd/sd-login.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "platform/linux/loaded_library.h"

namespace {

template <typename Function>
Function* Systemd(const char* symbol)
{
    return platform::LoadedFunction<Function>(platform::SystemdLibrary(), symbol);
}

void TellNotHeld()
{
    static std::once_flag told;
    std::call_once(told, [] {
        std::fprintf(stderr,
                     "oskel-update: not held during the download: sleep, shutdown and the lid (neither "
                     "libsystemd.so.0 nor libelogind.so.0 is on this system)\n");
    });
}

}  // namespace

extern "C" {

int sd_bus_open_system(sd_bus** bus)
{
    static const auto real = Systemd<decltype(sd_bus_open_system)>("sd_bus_open_system");
    if (real != nullptr) return real(bus);
    if (platform::SystemdLibrary().handle == nullptr) TellNotHeld();
    return -ENOSYS;
}

sd_bus* sd_bus_flush_close_unref(sd_bus* bus)
{
    static const auto real = Systemd<decltype(sd_bus_flush_close_unref)>("sd_bus_flush_close_unref");
    return real != nullptr ? real(bus) : nullptr;
}

int sd_bus_message_new_method_call(sd_bus* bus, sd_bus_message** message, const char* destination, const char* path,
                                   const char* interface, const char* member)
{
    static const auto real = Systemd<decltype(sd_bus_message_new_method_call)>("sd_bus_message_new_method_call");
    return real != nullptr ? real(bus, message, destination, path, interface, member) : -ENOSYS;
}

int sd_bus_message_append(sd_bus_message* message, const char* types, ...)
{
    static const auto real = Systemd<decltype(sd_bus_message_appendv)>("sd_bus_message_appendv");
    if (real == nullptr) return -ENOSYS;
    va_list arguments;
    va_start(arguments, types);
    const int result = real(message, types, arguments);
    va_end(arguments);
    return result;
}

int sd_bus_message_read(sd_bus_message* message, const char* types, ...)
{
    static const auto real = Systemd<decltype(sd_bus_message_readv)>("sd_bus_message_readv");
    if (real == nullptr) return -ENOSYS;
    va_list arguments;
    va_start(arguments, types);
    const int result = real(message, types, arguments);
    va_end(arguments);
    return result;
}

int sd_bus_call(sd_bus* bus, sd_bus_message* message, uint64_t timeoutUs, sd_bus_error* error, sd_bus_message** reply)
{
    static const auto real = Systemd<decltype(sd_bus_call)>("sd_bus_call");
    return real != nullptr ? real(bus, message, timeoutUs, error, reply) : -ENOSYS;
}

sd_bus_message* sd_bus_message_unref(sd_bus_message* message)
{
    static const auto real = Systemd<decltype(sd_bus_message_unref)>("sd_bus_message_unref");
    return real != nullptr ? real(message) : nullptr;
}

// Without the library nothing filled the error in, so there is nothing to free.
void sd_bus_error_free(sd_bus_error* error)
{
    static const auto real = Systemd<decltype(sd_bus_error_free)>("sd_bus_error_free");
    if (real != nullptr) real(error);
}

int sd_uid_get_seats(uid_t uid, int requireActive, char*** seats)
{
    static const auto real = Systemd<decltype(sd_uid_get_seats)>("sd_uid_get_seats");
    if (real != nullptr) return real(uid, requireActive, seats);
    if (seats != nullptr) *seats = nullptr;
    return -ENOSYS;
}

}  // extern "C"
