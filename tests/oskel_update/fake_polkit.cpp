// A stand-in for polkit on the test machine's system bus (test rig only, never shipped):
//
//   oskel-fake-polkit POLICY ACTIVE_UID RECORD
//
// owns org.freedesktop.PolicyKit1 and answers CheckAuthorization as polkit answers it with no
// rules of its own: by the defaults that POLICY (an actions file, such as logind's
// org.freedesktop.login1.policy) gives the action. The caller's user is ACTIVE_UID's, the user of
// the active session at the seat: <allow_active>; any other user is a remote login: <allow_any>;
// root is always authorized. "yes" authorizes, "no" refuses, "auth_*" refuses with a challenge
// (no agent answers here). An action that POLICY does not name is refused. RECORD gets one line
// per question:
//
//   check action=<action> uid=<uid> answer=<the default applied>
//
// "ready" on standard output tells that the name is owned. Runs until SIGTERM.
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "bus_serve.h"

namespace {

std::FILE* record = nullptr;
std::string policy;
uid_t activeUid = 1000;

// The text of <tag>...</tag> in the defaults of action, or "no".
std::string DefaultOf(const std::string& action, const std::string& tag)
{
    const std::size_t start = policy.find("<action id=\"" + action + "\"");
    if (start == std::string::npos) return "no";
    const std::size_t end = policy.find("</action>", start);
    const std::size_t open = policy.find("<" + tag + ">", start);
    if (open == std::string::npos || open > end) return "no";
    const std::size_t from = open + tag.size() + 2;
    const std::size_t close = policy.find("</" + tag + ">", from);
    if (close == std::string::npos || close > end) return "no";
    return policy.substr(from, close - from);
}

// The user of the subject: a bus name (logind asks so) or a process.
int SubjectUid(sd_bus_message* message, uid_t& uid)
{
    const char* kind = nullptr;
    int result = sd_bus_message_enter_container(message, 'r', "sa{sv}");
    if (result >= 0) result = sd_bus_message_read(message, "s", &kind);
    if (result >= 0) result = sd_bus_message_enter_container(message, 'a', "{sv}");
    std::string name;
    std::uint32_t pid = 0;
    while (result >= 0 && (result = sd_bus_message_enter_container(message, 'e', "sv")) > 0) {
        const char* key = nullptr;
        result = sd_bus_message_read(message, "s", &key);
        if (result >= 0 && std::strcmp(key, "name") == 0) {
            const char* value = nullptr;
            result = sd_bus_message_read(message, "v", "s", &value);
            if (result >= 0) name = value;
        } else if (result >= 0 && std::strcmp(key, "pid") == 0) {
            result = sd_bus_message_read(message, "v", "u", &pid);
        } else if (result >= 0) {
            result = sd_bus_message_skip(message, "v");
        }
        if (result >= 0) result = sd_bus_message_exit_container(message);
    }
    if (result >= 0) result = sd_bus_message_exit_container(message);
    if (result >= 0) result = sd_bus_message_exit_container(message);
    if (result < 0) return result;
    sd_bus_creds* creds = nullptr;
    if (!name.empty()) {
        result = sd_bus_get_name_creds(sd_bus_message_get_bus(message), name.c_str(), SD_BUS_CREDS_EUID, &creds);
    } else {
        result = sd_bus_creds_new_from_pid(&creds, static_cast<pid_t>(pid), SD_BUS_CREDS_EUID);
    }
    if (result >= 0) result = sd_bus_creds_get_euid(creds, &uid);
    sd_bus_creds_unref(creds);
    return result;
}

int CheckAuthorization(sd_bus_message* message, void*, sd_bus_error*)
{
    uid_t uid = 0;
    int result = SubjectUid(message, uid);
    const char* action = nullptr;
    if (result >= 0) result = sd_bus_message_read(message, "s", &action);
    if (result < 0) return result;
    const std::string answer =
        uid == 0 ? "yes" : DefaultOf(action, uid == activeUid ? "allow_active" : "allow_any");
    std::fprintf(record, "check action=%s uid=%u answer=%s\n", action, static_cast<unsigned>(uid), answer.c_str());
    std::fflush(record);
    const bool authorized = answer == "yes";
    const bool challenge = answer.rfind("auth_", 0) == 0;
    sd_bus_message* reply = nullptr;
    result = sd_bus_message_new_method_return(message, &reply);
    if (result >= 0) result = sd_bus_message_open_container(reply, 'r', "bba{ss}");
    if (result >= 0) result = sd_bus_message_append(reply, "bb", authorized, challenge);
    if (result >= 0) result = sd_bus_message_append(reply, "a{ss}", 0);
    if (result >= 0) result = sd_bus_message_close_container(reply);
    if (result >= 0) result = sd_bus_send(nullptr, reply, nullptr);
    sd_bus_message_unref(reply);
    return result;
}

// polkit's other calls that a client may make: a cancellation, and the agents nobody runs here.
int Nothing(sd_bus_message* message, void*, sd_bus_error*) { return sd_bus_reply_method_return(message, ""); }

const sd_bus_vtable kAuthority[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("CheckAuthorization", "(sa{sv})sa{ss}us", "(bba{ss})", CheckAuthorization, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("CancelCheckAuthorization", "s", "", Nothing, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: oskel-fake-polkit POLICY ACTIVE_UID RECORD\n");
        return 2;
    }
    std::ifstream file(argv[1]);
    std::stringstream text;
    text << file.rdbuf();
    policy = text.str();
    activeUid = static_cast<uid_t>(std::strtoul(argv[2], nullptr, 10));
    record = std::fopen(argv[3], "w");
    if (record == nullptr || policy.empty()) {
        std::fprintf(stderr, "oskel-fake-polkit: cannot read %s or write %s\n", argv[1], argv[3]);
        return 1;
    }
    sd_bus* bus = ServeOpen(true, "org.freedesktop.PolicyKit1", "/org/freedesktop/PolicyKit1/Authority",
                            "org.freedesktop.PolicyKit1.Authority", kAuthority, "oskel-fake-polkit");
    if (bus == nullptr) return 1;
    ServeUntilTerm(bus, nullptr);
    std::fclose(record);
    return 0;
}
