// Runs a program with the USB rig in place: loads the rig's kernel driver as a non-PnP kernel
// service that serves a USB tree file, runs the program, then stops and deletes the service, so
// that the Wine prefix is left as it was found.
//
//   oskel_usbrig_runner.exe --driver SYS --tree FILE --log FILE -- PROGRAM [ARGS...]
//
// Paths are Windows paths (Wine reaches the Unix file system through Z:). The driver writes
// every open, request and close that reaches it to the log (request_log.h). Exit status: the
// program's; 3 when the rig could not be set up or the program did not end in time; 2 on bad
// usage.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/win32/system_error.h"

namespace {

const char* const kServiceName = "OskelUsbRig";
const char* const kParametersKey = "System\\CurrentControlSet\\Services\\OskelUsbRig\\Parameters";
constexpr int kRigFailed = 3;
constexpr DWORD kServiceStateTimeoutMs = 30000;
constexpr DWORD kProgramTimeoutMs = 120000;
constexpr DWORD kPollMs = 20;

void Report(const char* what, DWORD error)
{
    std::fprintf(stderr, "usb rig: %s: %s\n", what, platform::SystemErrorText(error).c_str());
}

// Waits until the service leaves its pending state; true when it reached want.
bool WaitForServiceState(SC_HANDLE service, DWORD want)
{
    const DWORD start = GetTickCount();
    SERVICE_STATUS status{};
    while (QueryServiceStatus(service, &status)) {
        const bool pending = status.dwCurrentState == SERVICE_START_PENDING ||
                             status.dwCurrentState == SERVICE_STOP_PENDING;
        if (!pending || GetTickCount() - start > kServiceStateTimeoutMs) return status.dwCurrentState == want;
        Sleep(kPollMs);
    }
    return false;
}

// Stops and deletes the rig's service when it is there (also one left by a run that was cut off).
bool RemoveService(SC_HANDLE manager)
{
    SC_HANDLE service = OpenServiceA(manager, kServiceName, SERVICE_ALL_ACCESS);
    if (service == nullptr) return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
    SERVICE_STATUS status{};
    bool removed = true;
    if (QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED) {
        if (!ControlService(service, SERVICE_CONTROL_STOP, &status) && GetLastError() != ERROR_SERVICE_NOT_ACTIVE) {
            Report("stopping the driver", GetLastError());
            removed = false;
        } else if (!WaitForServiceState(service, SERVICE_STOPPED)) {
            std::fprintf(stderr, "usb rig: the driver did not stop\n");
            removed = false;
        }
    }
    if (!DeleteService(service) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
        Report("deleting the driver's service", GetLastError());
        removed = false;
    }
    CloseServiceHandle(service);
    return removed;
}

bool SetParameter(HKEY key, const char* name, const std::string& value)
{
    const LONG status = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                       static_cast<DWORD>(value.size() + 1));
    if (status != ERROR_SUCCESS) Report(name, static_cast<DWORD>(status));
    return status == ERROR_SUCCESS;
}

// The tree and the log go where the driver's tree DLL reads them: its service's Parameters key.
bool WriteParameters(const std::string& tree, const std::string& log)
{
    HKEY key = nullptr;
    const LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kParametersKey, 0, nullptr, 0, KEY_SET_VALUE,
                                        nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        Report("creating the driver's Parameters key", static_cast<DWORD>(status));
        return false;
    }
    const bool written = SetParameter(key, "TreeFile", tree) && SetParameter(key, "LogFile", log);
    RegCloseKey(key);
    return written;
}

void ShowLog(const std::string& log)
{
    std::FILE* file = std::fopen(log.c_str(), "rb");
    if (file == nullptr) {
        std::fprintf(stderr, "usb rig: the driver wrote no log %s\n", log.c_str());
        return;
    }
    std::fprintf(stderr, "usb rig: the driver's log %s:\n", log.c_str());
    char line[512];
    while (std::fgets(line, sizeof line, file)) std::fprintf(stderr, "  %s", line);
    std::fclose(file);
}

bool InstallAndStart(SC_HANDLE manager, const std::string& driver, const std::string& tree, const std::string& log)
{
    if (!RemoveService(manager)) return false;
    SC_HANDLE service = CreateServiceA(manager, kServiceName, kServiceName, SERVICE_ALL_ACCESS,
                                       SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                       driver.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    if (service == nullptr) {
        Report("creating the driver's service", GetLastError());
        return false;
    }
    bool started = WriteParameters(tree, log);
    if (started && !StartServiceA(service, 0, nullptr)) {
        Report("starting the driver", GetLastError());
        started = false;
    }
    if (started && !WaitForServiceState(service, SERVICE_RUNNING)) {
        std::fprintf(stderr, "usb rig: the driver did not reach the running state\n");
        started = false;
    }
    CloseServiceHandle(service);
    if (!started) ShowLog(log);
    return started;
}

std::string Quoted(const std::string& argument)
{
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

// Runs the program to its end; its exit status, or kRigFailed.
int RunProgram(const std::vector<std::string>& command)
{
    std::string line;
    for (const std::string& argument : command) line += (line.empty() ? "" : " ") + Quoted(argument);
    std::vector<char> commandLine(line.begin(), line.end());
    commandLine.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process)) {
        Report(("starting " + command[0]).c_str(), GetLastError());
        return kRigFailed;
    }
    CloseHandle(process.hThread);
    DWORD exitCode = kRigFailed;
    if (WaitForSingleObject(process.hProcess, kProgramTimeoutMs) != WAIT_OBJECT_0) {
        std::fprintf(stderr, "usb rig: %s did not end within %lu ms\n", command[0].c_str(),
                     static_cast<unsigned long>(kProgramTimeoutMs));
        TerminateProcess(process.hProcess, kRigFailed);
        WaitForSingleObject(process.hProcess, INFINITE);
    } else if (!GetExitCodeProcess(process.hProcess, &exitCode)) {
        exitCode = kRigFailed;
    }
    CloseHandle(process.hProcess);
    return static_cast<int>(exitCode);
}

}  // namespace

int main(int argc, char** argv)
{
    std::string driver, tree, log;
    std::vector<std::string> command;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--") {
            command.assign(argv + i + 1, argv + argc);
            break;
        }
        if (i + 1 == argc) break;
        if (option == "--driver") driver = argv[++i];
        else if (option == "--tree") tree = argv[++i];
        else if (option == "--log") log = argv[++i];
        else break;
    }
    if (driver.empty() || tree.empty() || log.empty() || command.empty()) {
        std::fprintf(stderr, "usage: %s --driver SYS --tree FILE --log FILE -- PROGRAM [ARGS...]\n", argv[0]);
        return 2;
    }

    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) {
        Report("opening the service manager", GetLastError());
        return kRigFailed;
    }
    int status = kRigFailed;
    if (InstallAndStart(manager, driver, tree, log)) {
        std::fflush(stdout);
        status = RunProgram(command);
    }
    if (!RemoveService(manager)) status = kRigFailed;
    CloseServiceHandle(manager);
    return status;
}
