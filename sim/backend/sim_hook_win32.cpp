// The simulated world of OskelUpdaterSim.exe, configured from the environment at start:
//
//   OSKEL_SIM_DEVICE=VID:PID    the device (hexadecimal identifiers), plugged at start
//   OSKEL_SIM_PLUG_MS=N         plug it N ms after the dialog opened instead, and send the
//                               dialog one device-interface arrival per interface, as Windows does
//   OSKEL_SIM_LATENCY_MS=N      real time the device takes per report and per reply
//   OSKEL_SIM_TRACE=file        trace of everything that crosses the seam
//   OSKEL_SIM_FLASH_OUT=file    the device's flash memory, written when the dialog closes
//   OSKEL_SIM_PCAP=file         the HID traffic as a USB capture (pcapng, docs/captures.md)
//   OSKEL_SIM_PCAP_LINK=usbpcap its link type: usbpcap or usbmon (the default)
#include "platform/win32/sim_hook.h"

#include <dbt.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/hid_class.h"
#include "sim/broadcast.h"
#include "sim/bus_capture.h"
#include "sim/hid_bus.h"
#include "models/models.h"
#include "sim/trace.h"

namespace platform {

namespace {

constexpr GUID kHidClassGuid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

std::shared_ptr<models::HidDevice> simDevice;

std::string Environment(const char* name)
{
    char value[1024];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
    if (length == 0 || length >= sizeof(value)) return {};
    return std::string(value, length);
}

// "045e:028e" -> 0x045E, 0x028E; false for anything else.
bool ParseDeviceIds(const std::string& text, std::uint16_t& vendorId, std::uint16_t& productId)
{
    unsigned vendor = 0;
    unsigned product = 0;
    char rest = 0;
    if (std::sscanf(text.c_str(), "%x:%x%c", &vendor, &product, &rest) != 2) return false;
    if (vendor > 0xFFFF || product > 0xFFFF) return false;
    vendorId = static_cast<std::uint16_t>(vendor);
    productId = static_cast<std::uint16_t>(product);
    return true;
}

// A decimal number of milliseconds, or fallback when absent or malformed.
std::uint32_t ParseMs(const std::string& text, std::uint32_t fallback)
{
    if (text.empty()) return fallback;
    char* end = nullptr;
    unsigned long value = std::strtoul(text.c_str(), &end, 10);
    if (end == nullptr || *end != '\0' || value > 600000) return fallback;
    return static_cast<std::uint32_t>(value);
}

struct DelayedPlug {
    HWND dialog;
    DWORD delayMs;
};

// Sends WM_DEVICECHANGE / DBT_DEVICEARRIVAL for one interface path, as the system does.
void AnnounceArrival(HWND dialog, const std::string& path)
{
    std::vector<std::uint8_t> record = sim::MakeInterfaceBroadcast(path);
    SendMessageA(dialog, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(record.data()));
}

DWORD WINAPI PlugLater(LPVOID parameter)
{
    DelayedPlug plug = *static_cast<DelayedPlug*>(parameter);
    delete static_cast<DelayedPlug*>(parameter);
    Sleep(plug.delayMs);
    sim::Plug(simDevice);
    for (std::size_t i = 0; i < simDevice->collections.size(); ++i) {
        if (!IsWindow(plug.dialog)) break;
        AnnounceArrival(plug.dialog, simDevice->PathOf(i));
    }
    return 0;
}

// Starts the capture that OSKEL_SIM_PCAP asks for; a failure goes to the debugger output.
void OpenCapture()
{
    const std::string path = Environment("OSKEL_SIM_PCAP");
    if (path.empty()) return;
    const capture::CaptureLink link = Environment("OSKEL_SIM_PCAP_LINK") == "usbpcap"
                                           ? capture::CaptureLink::UsbPcap
                                           : capture::CaptureLink::Usbmon;
    std::string error;
    if (!sim::BusCaptureOpen(path, link, {}, error)) OutputDebugStringA(("OskelUpdaterSim: " + error + "\n").c_str());
}

void CloseCapture()
{
    std::string error;
    if (!sim::BusCaptureClose(error)) OutputDebugStringA(("OskelUpdaterSim: " + error + "\n").c_str());
}

}  // namespace

GUID HidInterfaceClassGuid()
{
    return kHidClassGuid;
}

void SimHookDialogOpened(HWND dialog)
{
    std::string trace = Environment("OSKEL_SIM_TRACE");
    if (!trace.empty()) sim::TraceOpen(trace);
    OpenCapture();

    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    if (!ParseDeviceIds(Environment("OSKEL_SIM_DEVICE"), vendorId, productId)) return;
    simDevice = models::MakeDevice(vendorId, productId);
    if (!simDevice) return;
    simDevice->latencyMs = ParseMs(Environment("OSKEL_SIM_LATENCY_MS"), 0);

    std::string plugDelay = Environment("OSKEL_SIM_PLUG_MS");
    if (plugDelay.empty()) {
        sim::Plug(simDevice);
        return;
    }
    auto* plug = new DelayedPlug{dialog, ParseMs(plugDelay, 0)};
    HANDLE thread = CreateThread(nullptr, 0, PlugLater, plug, 0, nullptr);
    if (thread == nullptr) {
        delete plug;
        return;
    }
    CloseHandle(thread);
}

void SimHookDialogClosing()
{
    std::string flashOut = Environment("OSKEL_SIM_FLASH_OUT");
    if (!flashOut.empty() && simDevice) {
        std::vector<std::uint8_t> flash = simDevice->Flash();
        if (FILE* file = std::fopen(flashOut.c_str(), "wb")) {
            if (!flash.empty()) std::fwrite(flash.data(), 1, flash.size(), file);
            std::fclose(file);
        }
    }
    CloseCapture();
    sim::TraceClose();
}

}  // namespace platform
