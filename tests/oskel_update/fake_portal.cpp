// A stand-in for the desktop portal on the test user's session bus (test rig only, never shipped):
//
//   oskel-fake-portal RECORD
//
// owns org.freedesktop.portal.Desktop and answers org.freedesktop.portal.Inhibit.Inhibit(window,
// flags, options) as xdg-desktop-portal does: flags outside logout (1), user switch (2), suspend
// (4) and idle (8) are refused as invalid, and so is a reason longer than 256 characters; otherwise
// the request object /org/freedesktop/portal/desktop/request/SENDER/TOKEN (TOKEN the caller's
// handle_token) is made, its path returned and its Response (0, success) sent. The inhibition
// lasts until the caller closes the request (org.freedesktop.portal.Request.Close) or leaves the
// bus. RECORD gets one line for each:
//
//   inhibit-us=<n> flags=<flags> window=<window> reason=<reason> handle=<path>
//   refused-us=<n> flags=<flags> why=<why>
//   closed-us=<n> handle=<path>
//   gone-us=<n> handle=<path>          (the caller left the bus with the request open)
//
// "ready" on standard output tells that the name is owned. Runs until SIGTERM.
#include <systemd/sd-bus.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "bus_serve.h"

namespace {

constexpr std::uint32_t kKnownFlags = 1 | 2 | 4 | 8;
constexpr std::size_t kLongestReason = 256;

struct Request {
    std::string sender;
    sd_bus_slot* slot = nullptr;
};

std::FILE* record = nullptr;
std::map<std::string, Request> requests;  // by handle
unsigned requestNumber = 0;

void Note(const char* what, const std::string& handle)
{
    std::fprintf(record, "%s-us=%" PRIu64 " handle=%s\n", what, ServeNowUs(), handle.c_str());
    std::fflush(record);
}

void Drop(const std::string& handle, const char* what)
{
    const auto found = requests.find(handle);
    if (found == requests.end()) return;
    Note(what, handle);
    sd_bus_slot_unref(found->second.slot);
    requests.erase(found);
}

int Close(sd_bus_message* message, void*, sd_bus_error*)
{
    Drop(sd_bus_message_get_path(message), "closed");
    return sd_bus_reply_method_return(message, "");
}

const sd_bus_vtable kRequest[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Close", "", "", Close, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL("Response", "ua{sv}", 0),
    SD_BUS_VTABLE_END,
};

// ":1.42" becomes "1_42", as the portal names its requests.
std::string SenderElement(const char* sender)
{
    std::string element;
    for (const char* c = sender; *c != '\0'; ++c) {
        if (*c == ':') continue;
        element += *c == '.' ? '_' : *c;
    }
    return element;
}

// The options the portal reads: handle_token and reason; others are passed over.
int ReadOptions(sd_bus_message* message, std::string& token, std::string& reason)
{
    int result = sd_bus_message_enter_container(message, 'a', "{sv}");
    while (result >= 0 && (result = sd_bus_message_enter_container(message, 'e', "sv")) > 0) {
        const char* key = nullptr;
        const char* value = nullptr;
        result = sd_bus_message_read(message, "s", &key);
        if (result >= 0 && (std::strcmp(key, "handle_token") == 0 || std::strcmp(key, "reason") == 0)) {
            result = sd_bus_message_read(message, "v", "s", &value);
            if (result >= 0) (std::strcmp(key, "reason") == 0 ? reason : token) = value;
        } else if (result >= 0) {
            result = sd_bus_message_skip(message, "v");
        }
        if (result >= 0) result = sd_bus_message_exit_container(message);
    }
    if (result >= 0) result = sd_bus_message_exit_container(message);
    return result;
}

int Inhibit(sd_bus_message* message, void*, sd_bus_error* error)
{
    const char* window = nullptr;
    std::uint32_t flags = 0;
    int result = sd_bus_message_read(message, "su", &window, &flags);
    std::string token;
    std::string reason;
    if (result >= 0) result = ReadOptions(message, token, reason);
    if (result < 0) return result;
    const char* refusal = (flags & ~kKnownFlags) != 0 ? "Invalid flags"
                          : reason.size() > kLongestReason ? "Not accepting overly long reasons"
                                                           : nullptr;
    if (refusal != nullptr) {
        std::fprintf(record, "refused-us=%" PRIu64 " flags=%u why=%s\n", ServeNowUs(), flags, refusal);
        std::fflush(record);
        return sd_bus_error_set(error, "org.freedesktop.portal.Error.InvalidArgument", refusal);
    }
    const char* sender = sd_bus_message_get_sender(message);
    if (token.empty()) token = "t" + std::to_string(++requestNumber);
    const std::string handle = "/org/freedesktop/portal/desktop/request/" + SenderElement(sender) + "/" + token;
    sd_bus* bus = sd_bus_message_get_bus(message);
    Request request{sender, nullptr};
    result = sd_bus_add_object_vtable(bus, &request.slot, handle.c_str(), "org.freedesktop.portal.Request", kRequest,
                                      nullptr);
    if (result < 0) return result;
    requests[handle] = request;
    std::fprintf(record, "inhibit-us=%" PRIu64 " flags=%u window=%s reason=%s handle=%s\n", ServeNowUs(), flags, window,
                 reason.c_str(), handle.c_str());
    std::fflush(record);
    result = sd_bus_reply_method_return(message, "o", handle.c_str());
    if (result >= 0) {
        result = sd_bus_emit_signal(bus, handle.c_str(), "org.freedesktop.portal.Request", "Response", "ua{sv}", 0u, 0);
    }
    return result;
}

int Version(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*, sd_bus_error*)
{
    return sd_bus_message_append(reply, "u", 3u);
}

const sd_bus_vtable kInhibit[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Inhibit", "sua{sv}", "o", Inhibit, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_PROPERTY("version", "u", Version, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_VTABLE_END,
};

// A caller that leaves the bus lets its inhibitions go, as the portal closes them.
int NameOwnerChanged(sd_bus_message* message, void*, sd_bus_error*)
{
    const char* name = nullptr;
    const char* before = nullptr;
    const char* after = nullptr;
    if (sd_bus_message_read(message, "sss", &name, &before, &after) < 0 || *after != '\0') return 0;
    for (auto request = requests.begin(); request != requests.end();) {
        const std::string handle = request->first;
        ++request;
        if (requests[handle].sender == name) Drop(handle, "gone");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: oskel-fake-portal RECORD\n");
        return 2;
    }
    record = std::fopen(argv[1], "w");
    if (record == nullptr) {
        std::fprintf(stderr, "oskel-fake-portal: cannot write %s\n", argv[1]);
        return 1;
    }
    sd_bus* bus = ServeOpen(false, "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                            "org.freedesktop.portal.Inhibit", kInhibit, "oskel-fake-portal");
    if (bus == nullptr) return 1;
    if (sd_bus_match_signal(bus, nullptr, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                            "NameOwnerChanged", NameOwnerChanged, nullptr) < 0) {
        std::fprintf(stderr, "oskel-fake-portal: cannot watch the bus's names\n");
        return 1;
    }
    ServeUntilTerm(bus, nullptr);
    std::fclose(record);
    return 0;
}
