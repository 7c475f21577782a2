// Plugs simulated controllers into the system and unplugs them (test rig only).
//
//   oskel_hid_rig plug VID:PID --record FOLDER [--latency MS] [fault and model options]
//   oskel_hid_rig unplug [VID:PID]
//
// plug creates one root-enumerated device node per top-level collection of the controller's
// model, named as Windows names a composite HID device's collections
// (ROOT\VID_2563&PID_1818&COL02\0000; without &COLnn for a controller of one collection), writes
// the controller's settings into each node's device key and installs the rig's driver on them
// (oskel_hid_rig.inf beside this program), which starts them. unplug removes the rig's nodes (of
// one controller, or all). Either may run while other programs use the controllers; each is
// seen by them as a device arriving or leaving. The fault and model options are those of
// tests/rig/controller_settings.h (--refuse-report N, --stall-report N, --remove-after N, --fail-reply N,
// --stall-reply N, --refuse-start K, --no-identify-reply, ...).
//
// Exit status: 0 done, 1 failed (the reason on standard error), 2 bad usage.
#include <windows.h>
#include <devguid.h>
#include <newdev.h>
#include <setupapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "platform/win32/system_error.h"
#include "models/models.h"
#include "tests/wine/hid/node_settings.h"

namespace {

// The hardware id every rig node carries; the INF installs the driver on it.
const char kHardwareId[] = "root\\oskel_hid_rig";
const char kInfName[] = "oskel_hid_rig.inf";

// The longest device instance id (cfgmgr32.h MAX_DEVICE_ID_LEN).
constexpr DWORD kMaxDeviceIdLength = 200;

constexpr int kFailed = 1;
constexpr int kUsage = 2;

int Fail(const std::string& operation, DWORD error)
{
    std::fprintf(stderr, "oskel_hid_rig: %s failed (%s)\n", operation.c_str(), platform::SystemErrorText(error).c_str());
    return kFailed;
}

// The device id of one node: VID_2563&PID_1818&COL02 (no &COLnn for a single collection).
std::string NodeDeviceId(std::uint16_t vendorId, std::uint16_t productId, std::size_t collection, std::size_t count)
{
    char id[64];
    if (count > 1) {
        std::snprintf(id, sizeof id, "VID_%04X&PID_%04X&COL%02zu", vendorId, productId, collection);
    } else {
        std::snprintf(id, sizeof id, "VID_%04X&PID_%04X", vendorId, productId);
    }
    return id;
}

std::string InfBesideProgram()
{
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    std::size_t slash = folder.find_last_of("\\/");
    folder = slash == std::string::npos ? std::string(".") : folder.substr(0, slash);
    return folder + "\\" + kInfName;
}

bool HasRigHardwareId(HDEVINFO set, SP_DEVINFO_DATA& device)
{
    char ids[1024] = {};
    if (!SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, nullptr, reinterpret_cast<BYTE*>(ids),
                                           sizeof(ids) - 2, nullptr))
        return false;
    for (const char* id = ids; *id != '\0' && id < ids + sizeof(ids); id += std::strlen(id) + 1) {
        if (lstrcmpiA(id, kHardwareId) == 0) return true;
    }
    return false;
}

// Creates and registers one node and writes its settings.
int CreateNode(const std::string& deviceId, const rig::NodeSettings& settings)
{
    const std::string instanceId = "ROOT\\" + deviceId + "\\0000";
    HDEVINFO set = SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_HIDCLASS, nullptr);
    if (set == INVALID_HANDLE_VALUE) return Fail("SetupDiCreateDeviceInfoList", GetLastError());
    int status = 0;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    std::string hardwareIds = std::string(kHardwareId) + '\0' + '\0';
    HKEY key = static_cast<HKEY>(INVALID_HANDLE_VALUE);
    LONG error = ERROR_SUCCESS;
    if (!SetupDiCreateDeviceInfoA(set, instanceId.c_str(), &GUID_DEVCLASS_HIDCLASS, nullptr, nullptr, 0, &device)) {
        status = Fail("SetupDiCreateDeviceInfo " + instanceId, GetLastError());
    } else if (!SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID,
                                                  reinterpret_cast<const BYTE*>(hardwareIds.data()),
                                                  static_cast<DWORD>(hardwareIds.size()))) {
        status = Fail("SetupDiSetDeviceRegistryProperty " + instanceId, GetLastError());
    } else if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device)) {
        status = Fail("DIF_REGISTERDEVICE " + instanceId, GetLastError());
    } else if ((key = SetupDiCreateDevRegKeyA(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr)) ==
               INVALID_HANDLE_VALUE) {
        status = Fail("SetupDiCreateDevRegKey " + instanceId, GetLastError());
    } else {
        if (!rig::WriteNodeSettings(key, settings, error))
            status = Fail("writing the settings of " + instanceId, error);
        RegCloseKey(key);
    }
    SetupDiDestroyDeviceInfoList(set);
    if (status == 0) std::printf("created %s\n", instanceId.c_str());
    return status;
}

// Removes the rig's nodes: those of one controller (prefix ROOT\VID_xxxx&PID_xxxx), or all.
int Unplug(const std::string& devicePrefix)
{
    HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_HIDCLASS, "ROOT", nullptr, 0);
    if (set == INVALID_HANDLE_VALUE) return Fail("SetupDiGetClassDevs", GetLastError());
    int status = 0;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        char instanceId[kMaxDeviceIdLength] = {};
        if (!SetupDiGetDeviceInstanceIdA(set, &device, instanceId, sizeof(instanceId), nullptr)) continue;
        if (!HasRigHardwareId(set, device)) continue;
        if (!devicePrefix.empty() && _strnicmp(instanceId, devicePrefix.c_str(), devicePrefix.size()) != 0) continue;
        if (!SetupDiCallClassInstaller(DIF_REMOVE, set, &device)) {
            status = Fail(std::string("DIF_REMOVE ") + instanceId, GetLastError());
            continue;
        }
        std::printf("removed %s\n", instanceId);
    }
    SetupDiDestroyDeviceInfoList(set);
    return status;
}

int Plug(std::uint16_t vendorId, std::uint16_t productId, const rig::NodeSettings& base, const std::string& inf)
{
    const std::size_t count = models::MakeDevice(vendorId, productId)->collections.size();
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "ROOT\\VID_%04X&PID_%04X", vendorId, productId);
    // A node left over from an earlier run would stand in the way of the new one.
    if (int status = Unplug(prefix)) return status;
    for (std::size_t collection = 1; collection <= count; ++collection) {
        rig::NodeSettings settings = base;
        settings.vendorId = vendorId;
        settings.productId = productId;
        settings.collection = static_cast<std::uint32_t>(collection);
        if (int status = CreateNode(NodeDeviceId(vendorId, productId, collection, count), settings)) return status;
    }
    BOOL reboot = FALSE;
    if (!UpdateDriverForPlugAndPlayDevicesA(nullptr, kHardwareId, inf.c_str(), INSTALLFLAG_FORCE, &reboot))
        return Fail("UpdateDriverForPlugAndPlayDevices " + inf, GetLastError());
    std::printf("plugged %04x:%04x, %zu collection%s\n", vendorId, productId, count, count == 1 ? "" : "s");
    return 0;
}

int UsageError(const char* what)
{
    std::fprintf(stderr,
                 "oskel_hid_rig: %s\n"
                 "usage: oskel_hid_rig plug VID:PID --record FOLDER [--latency MS] [--inf FILE] [faults]\n"
                 "       oskel_hid_rig unplug [VID:PID]\n",
                 what);
    return kUsage;
}

// The options of plug; false with a message for one it does not know or a bad value.
bool ParsePlugOptions(int argc, char** argv, rig::NodeSettings& settings, std::string& inf, std::string& error)
{
    for (int i = 3; i < argc; ++i) {
        const std::string option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (option == "--inf" && value != nullptr) {
            inf = value;
            ++i;
            continue;
        }
        switch (rig::ParseControllerOption(option, value, settings, error)) {
        case rig::OptionUse::Flag: break;
        case rig::OptionUse::Value: ++i; break;
        case rig::OptionUse::Bad: return false;
        case rig::OptionUse::Unknown:
            error = value == nullptr && option == "--inf" ? "option --inf needs a value" : "unknown option " + option;
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) return UsageError("no command");
    const std::string command = argv[1];
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    if (command == "unplug") {
        if (argc == 2) return Unplug("ROOT\\");
        if (argc != 3 || !rig::ParseIds(argv[2], vendorId, productId)) return UsageError("unplug takes one VID:PID or none");
        char prefix[32];
        std::snprintf(prefix, sizeof prefix, "ROOT\\VID_%04X&PID_%04X", vendorId, productId);
        return Unplug(prefix);
    }
    if (command != "plug") return UsageError("unknown command");
    if (argc < 3 || !rig::ParseIds(argv[2], vendorId, productId)) return UsageError("plug needs VID:PID (hexadecimal)");
    rig::NodeSettings settings;
    std::string inf = InfBesideProgram();
    std::string error;
    if (!ParsePlugOptions(argc, argv, settings, inf, error)) return UsageError(error.c_str());
    if (settings.recordFolder.empty()) return UsageError("plug needs --record FOLDER");
    return Plug(vendorId, productId, settings, inf);
}
