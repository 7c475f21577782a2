// libsystemd's functions that the program calls (the session guard's sd-bus calls to logind and
// the desktop portal, the seat in the access check), forwarded to libsystemd.so.0 or, where it is
// absent, elogind's libelogind.so.0, loaded at run time (loaded_library.h). Where neither loads,
// each fails as it would without a bus or logind; the session guard says what is then not held.
#include <systemd/sd-bus.h>
#include <systemd/sd-login.h>

#include <cerrno>
#include <cstdarg>

#include "platform/linux/loaded_library.h"

namespace {

template <typename Function>
Function* Systemd(const char* symbol)
{
    return platform::LoadedFunction<Function>(platform::SystemdLibrary(), symbol);
}

}  // namespace

extern "C" {

int sd_bus_open_system(sd_bus** bus)
{
    static const auto real = Systemd<decltype(sd_bus_open_system)>("sd_bus_open_system");
    return real != nullptr ? real(bus) : -ENOSYS;
}

int sd_bus_open_user(sd_bus** bus)
{
    static const auto real = Systemd<decltype(sd_bus_open_user)>("sd_bus_open_user");
    return real != nullptr ? real(bus) : -ENOSYS;
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

int sd_seat_get_active(const char* seat, char** session, uid_t* uid)
{
    static const auto real = Systemd<decltype(sd_seat_get_active)>("sd_seat_get_active");
    if (real != nullptr) return real(seat, session, uid);
    if (session != nullptr) *session = nullptr;
    return -ENOSYS;
}

int sd_bus_error_has_name(const sd_bus_error* error, const char* name)
{
    static const auto real = Systemd<decltype(sd_bus_error_has_name)>("sd_bus_error_has_name");
    return real != nullptr ? real(error, name) : 0;
}

int sd_bus_get_property_trivial(sd_bus* bus, const char* destination, const char* path, const char* interface,
                                const char* member, sd_bus_error* error, char type, void* value)
{
    static const auto real = Systemd<decltype(sd_bus_get_property_trivial)>("sd_bus_get_property_trivial");
    return real != nullptr ? real(bus, destination, path, interface, member, error, type, value) : -ENOSYS;
}

int sd_bus_get_unique_name(sd_bus* bus, const char** name)
{
    static const auto real = Systemd<decltype(sd_bus_get_unique_name)>("sd_bus_get_unique_name");
    return real != nullptr ? real(bus, name) : -ENOSYS;
}

int sd_bus_match_signal(sd_bus* bus, sd_bus_slot** slot, const char* sender, const char* path, const char* interface,
                        const char* member, sd_bus_message_handler_t callback, void* userdata)
{
    static const auto real = Systemd<decltype(sd_bus_match_signal)>("sd_bus_match_signal");
    return real != nullptr ? real(bus, slot, sender, path, interface, member, callback, userdata) : -ENOSYS;
}

sd_bus_slot* sd_bus_slot_unref(sd_bus_slot* slot)
{
    static const auto real = Systemd<decltype(sd_bus_slot_unref)>("sd_bus_slot_unref");
    return real != nullptr ? real(slot) : nullptr;
}

int sd_bus_message_set_expect_reply(sd_bus_message* message, int expect)
{
    static const auto real = Systemd<decltype(sd_bus_message_set_expect_reply)>("sd_bus_message_set_expect_reply");
    return real != nullptr ? real(message, expect) : -ENOSYS;
}

int sd_bus_send(sd_bus* bus, sd_bus_message* message, uint64_t* cookie)
{
    static const auto real = Systemd<decltype(sd_bus_send)>("sd_bus_send");
    return real != nullptr ? real(bus, message, cookie) : -ENOSYS;
}

int sd_bus_flush(sd_bus* bus)
{
    static const auto real = Systemd<decltype(sd_bus_flush)>("sd_bus_flush");
    return real != nullptr ? real(bus) : -ENOSYS;
}

int sd_bus_process(sd_bus* bus, sd_bus_message** message)
{
    static const auto real = Systemd<decltype(sd_bus_process)>("sd_bus_process");
    return real != nullptr ? real(bus, message) : -ENOSYS;
}

int sd_bus_get_fd(sd_bus* bus)
{
    static const auto real = Systemd<decltype(sd_bus_get_fd)>("sd_bus_get_fd");
    return real != nullptr ? real(bus) : -ENOSYS;
}

int sd_bus_get_events(sd_bus* bus)
{
    static const auto real = Systemd<decltype(sd_bus_get_events)>("sd_bus_get_events");
    return real != nullptr ? real(bus) : -ENOSYS;
}

}  // extern "C"
