// The rig's USB tree: the DLL that the rig's kernel driver imports. It loads the tree file named
// in the driver's service key into the simulated tree (sim/usb_tree.h), lists the nodes that
// the driver makes device objects for, answers the driver's opens and requests through the
// simulated driver and logs each of them (request_log.h).
#include "tests/wine/usb/rig_tree.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win32/system_error.h"
#include "sim/usb_text.h"
#include "sim/usb_tree.h"
#include "tests/wine/usb/request_log.h"

namespace {

// A hub's name becomes part of an object name: keep it short enough for any name buffer of the
// driver and free of the separator of object directories.
constexpr std::size_t kLongestNodeName = 255;
// Tree files are small text files; a larger one is not a tree.
constexpr long kLargestTreeFile = 1 << 20;
// Hubs nest at most a few levels on a real bus; the parsed tree has no cycles, this only bounds
// the recursion.
constexpr int kDeepestHub = 64;

struct RigNode {
    std::string path;         // as the walk opens it: "\\.\HCD0", "\\.\" + hub name
    std::wstring deviceName;  // "\Device\OskelUsbRig<n>"
    std::wstring linkName;    // "\DosDevices\HCD0", "\DosDevices\" + hub name
};

std::mutex rigMutex;
std::vector<RigNode> nodes;
std::vector<std::pair<intptr_t, std::string>> openHandles;
std::FILE* logFile = nullptr;

// Caller holds rigMutex.
void WriteLogLine(const std::string& line)
{
    if (logFile == nullptr) return;
    std::fputs(line.c_str(), logFile);
    std::fputc('\n', logFile);
    std::fflush(logFile);
}

std::string Narrow(const std::wstring& text)
{
    std::u16string units(text.begin(), text.end());
    return sim::Utf16ToUtf8(units.c_str(), units.size());
}

// A REG_SZ value of a key, bounds-checked; empty when it is missing or not a text.
std::wstring ReadTextValue(HKEY key, const wchar_t* name, std::string& error)
{
    constexpr DWORD kLargestValue = 4096 * sizeof(wchar_t);
    DWORD type = 0;
    DWORD size = 0;
    LONG status = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
    if (status != ERROR_SUCCESS || type != REG_SZ || size > kLargestValue) {
        error = "Parameters\\" + Narrow(name) + " is not a text value: " + platform::SystemErrorText(static_cast<DWORD>(status));
        return {};
    }
    std::vector<wchar_t> value(size / sizeof(wchar_t) + 1, L'\0');
    status = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size);
    if (status != ERROR_SUCCESS) {
        error = "cannot read Parameters\\" + Narrow(name) + ": " + platform::SystemErrorText(static_cast<DWORD>(status));
        return {};
    }
    value.back() = L'\0';
    return value.data();
}

// The driver's Parameters key, from the service key as the driver is given it.
HKEY OpenParameters(const wchar_t* serviceKey, std::size_t length, std::string& error)
{
    static const std::wstring kMachinePrefix = L"\\Registry\\Machine\\";
    const std::wstring key(serviceKey, length);
    if (key.size() <= kMachinePrefix.size() ||
        _wcsnicmp(key.c_str(), kMachinePrefix.c_str(), kMachinePrefix.size()) != 0) {
        error = "the service key " + Narrow(key) + " is not below \\Registry\\Machine";
        return nullptr;
    }
    const std::wstring parameters = key.substr(kMachinePrefix.size()) + L"\\Parameters";
    HKEY handle = nullptr;
    const LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, parameters.c_str(), 0, KEY_QUERY_VALUE, &handle);
    if (status != ERROR_SUCCESS) {
        error = "cannot open " + Narrow(parameters) + ": " + platform::SystemErrorText(static_cast<DWORD>(status));
        return nullptr;
    }
    return handle;
}

bool ReadTreeText(const std::wstring& path, std::string& text, std::string& error)
{
    std::FILE* file = _wfopen(path.c_str(), L"rb");
    if (file == nullptr) {
        error = "cannot read the tree " + Narrow(path);
        return false;
    }
    std::vector<char> buffer(kLargestTreeFile + 1);
    const std::size_t read = std::fread(buffer.data(), 1, buffer.size(), file);
    std::fclose(file);
    if (read > static_cast<std::size_t>(kLargestTreeFile)) {
        error = "the tree " + Narrow(path) + " is larger than " + std::to_string(kLargestTreeFile) + " bytes";
        return false;
    }
    text.assign(buffer.data(), read);
    return true;
}

// A node whose opens the tree refuses gets no device object at all: Wine (8.0) completes an open
// of a driver's device before the driver sees it, so a driver can't refuse one. The walk then
// fails to open the name, as it does when the tree refuses the open.
bool AddNode(const std::string& name, bool opens, std::string& error)
{
    if (!opens) {
        WriteLogLine("# " + name + " has no device object: its opens fail");
        return true;
    }
    if (name.empty() || name.size() > kLongestNodeName || name.find('\\') != std::string::npos) {
        error = "node name \"" + name + "\" can't be an object name (empty, longer than " +
                std::to_string(kLongestNodeName) + " bytes, or holding a backslash)";
        return false;
    }
    const std::u16string wide = sim::Utf8ToUtf16(name);
    const std::wstring linkName = L"\\DosDevices\\" + std::wstring(wide.begin(), wide.end());
    for (const RigNode& node : nodes) {
        if (_wcsicmp(node.linkName.c_str(), linkName.c_str()) == 0) {
            error = "node name \"" + name + "\" given twice";
            return false;
        }
    }
    RigNode node;
    node.path = "\\\\.\\" + name;
    node.deviceName = L"\\Device\\OskelUsbRig" + std::to_wstring(nodes.size());
    node.linkName = linkName;
    nodes.push_back(std::move(node));
    return true;
}

bool AddHubs(const std::shared_ptr<sim::UsbHub>& hub, int depth, std::string& error)
{
    if (!hub) return true;
    if (depth > kDeepestHub) {
        error = "hubs nested deeper than " + std::to_string(kDeepestHub) + " levels";
        return false;
    }
    if (!AddNode(hub->name, !hub->openFails, error)) return false;
    for (const sim::UsbPort& port : hub->ports) {
        if (port.device && !AddHubs(port.device->hub, depth + 1, error)) return false;
    }
    return true;
}

// Caller holds rigMutex.
bool LoadTree(const wchar_t* serviceKey, std::size_t length)
{
    std::string error;
    HKEY parameters = OpenParameters(serviceKey, length, error);
    if (parameters == nullptr) return false;
    const std::wstring logPath = ReadTextValue(parameters, L"LogFile", error);
    const std::wstring treePath = logPath.empty() ? std::wstring() : ReadTextValue(parameters, L"TreeFile", error);
    RegCloseKey(parameters);
    if (logPath.empty()) return false;

    logFile = _wfopen(logPath.c_str(), L"wb");
    if (logFile == nullptr) return false;
    WriteLogLine(kRequestLogHeader);
    std::string text;
    sim::UsbTree tree;
    if (treePath.empty() || !ReadTreeText(treePath, text, error) || !sim::ParseUsbTree(text, tree, error)) {
        WriteLogLine("# " + error);
        return false;
    }
    for (const sim::UsbController& controller : tree.controllers) {
        const std::string name = "HCD" + std::to_string(controller.number);
        if (!AddNode(name, !controller.openFails, error) || !AddHubs(controller.rootHub, 0, error)) {
            WriteLogLine("# " + error);
            return false;
        }
    }
    sim::ResetUsbTree();
    sim::SetUsbTree(std::move(tree));
    WriteLogLine("# tree " + Narrow(treePath) + ": " + std::to_string(nodes.size()) + " nodes");
    return true;
}

// The path a handle was opened with ("" for none). Caller holds rigMutex.
std::string PathOf(intptr_t handle)
{
    for (const auto& [open, path] : openHandles) {
        if (open == handle) return path;
    }
    return {};
}

// The time limit handed to the simulated driver for a node that answers: it answers at once and
// never waits for it (only the nodes that never answer do, and their requests stay with the
// driver).
constexpr std::uint32_t kAnswersAtOnce = 0;

const RigNode* NodeOf(int node)
{
    if (node < 0 || static_cast<std::size_t>(node) >= nodes.size()) return nullptr;
    return &nodes[static_cast<std::size_t>(node)];
}

}  // namespace

extern "C" {

__declspec(dllexport) int RigTreeStart(const wchar_t* serviceKey, size_t serviceKeyLength)
{
    std::lock_guard<std::mutex> lock(rigMutex);
    nodes.clear();
    openHandles.clear();
    if (serviceKey == nullptr || !LoadTree(serviceKey, serviceKeyLength)) return -1;
    return static_cast<int>(nodes.size());
}

__declspec(dllexport) const wchar_t* RigTreeDeviceName(int node)
{
    std::lock_guard<std::mutex> lock(rigMutex);
    const RigNode* found = NodeOf(node);
    return found != nullptr ? found->deviceName.c_str() : nullptr;
}

__declspec(dllexport) const wchar_t* RigTreeLinkName(int node)
{
    std::lock_guard<std::mutex> lock(rigMutex);
    const RigNode* found = NodeOf(node);
    return found != nullptr ? found->linkName.c_str() : nullptr;
}

__declspec(dllexport) intptr_t RigTreeOpen(int node)
{
    std::lock_guard<std::mutex> lock(rigMutex);
    const RigNode* found = NodeOf(node);
    if (found == nullptr) return RIG_TREE_NO_HANDLE;
    const platform::DeviceHandle handle = sim::UsbDriverOpen(found->path).handle;
    const bool opened = handle != platform::kInvalidHandle;
    WriteLogLine(OpenLogLine(found->path, opened));
    if (!opened) return RIG_TREE_NO_HANDLE;
    openHandles.emplace_back(handle, found->path);
    return handle;
}

__declspec(dllexport) int RigTreeRequest(intptr_t handle, uint32_t code, const void* in, uint32_t inSize,
                                         void* out, uint32_t outSize, uint32_t* returned)
{
    std::lock_guard<std::mutex> lock(rigMutex);
    if (returned != nullptr) *returned = 0;
    sim::UsbRequestRecord record;
    record.code = code;
    record.outputSize = outSize;
    record.path = PathOf(handle);
    if (in != nullptr) {
        const auto* bytes = static_cast<const std::uint8_t*>(in);
        record.input.assign(bytes, bytes + inSize);
    }
    const sim::UsbAnswering answering = sim::UsbDriverAnswering(handle);
    if (answering != sim::UsbAnswering::kAnswers) {
        record.neverAnswered = true;
        WriteLogLine(RequestLogLine(record));
        return answering == sim::UsbAnswering::kNeverUncancellable ? RIG_TREE_PENDING_UNCANCELLABLE
                                                                   : RIG_TREE_PENDING;
    }
    std::uint32_t written = 0;
    record.succeeded = sim::UsbDriverRequest(handle, code, in, inSize, out, outSize, written, kAnswersAtOnce).done();
    if (record.succeeded && out != nullptr) {
        const auto* bytes = static_cast<const std::uint8_t*>(out);
        record.output.assign(bytes, bytes + written);
    }
    WriteLogLine(RequestLogLine(record));
    if (returned != nullptr) *returned = record.succeeded ? written : 0;
    return record.succeeded ? RIG_TREE_ANSWERED : RIG_TREE_REFUSED;
}

__declspec(dllexport) void RigTreePendingEvent(intptr_t handle, int event)
{
    std::lock_guard<std::mutex> lock(rigMutex);
    const std::string path = PathOf(handle);
    if (event == RIG_TREE_CLEANUP_ENDED) WriteLogLine(CleanupLogLine(path));
    else WriteLogLine(CancelLogLine(path, event == RIG_TREE_CANCEL_ENDED));
}

__declspec(dllexport) void RigTreeClose(intptr_t handle)
{
    std::lock_guard<std::mutex> lock(rigMutex);
    for (auto open = openHandles.begin(); open != openHandles.end(); ++open) {
        if (open->first == handle) {
            WriteLogLine(CloseLogLine(open->second));
            openHandles.erase(open);
            break;
        }
    }
    sim::UsbDriverClose(handle);
}

__declspec(dllexport) void RigTreeNote(const char* text)
{
    std::lock_guard<std::mutex> lock(rigMutex);
    WriteLogLine(std::string("# ") + (text != nullptr ? text : ""));
}

__declspec(dllexport) void RigTreeStop(void)
{
    std::lock_guard<std::mutex> lock(rigMutex);
    if (!openHandles.empty()) WriteLogLine("# " + std::to_string(openHandles.size()) + " handles still open");
    if (logFile != nullptr) std::fclose(logFile);
    logFile = nullptr;
}

}  // extern "C"
