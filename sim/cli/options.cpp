#include "sim/cli/options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "check/capture_check.h"
#include "models/models.h"
#include "sim/usb_tree.h"
#include "sim/world.h"
#include "state/download_modes.h"

namespace sim {
namespace {

bool ParseNumber(const char* text, std::uint32_t& value)
{
    if (!text || !*text) return false;
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(text, &end, 10);
    if (*end != '\0' || parsed > 0xFFFFFFFFull || text[0] == '-') return false;
    value = static_cast<std::uint32_t>(parsed);
    return true;
}

bool ParseHex16(const std::string& text, std::uint16_t& value)
{
    if (text.empty() || text.size() > 4) return false;
    unsigned parsed = 0;
    for (char c : text) {
        unsigned digit;
        if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
        else return false;
        parsed = parsed * 16 + digit;
    }
    value = static_cast<std::uint16_t>(parsed);
    return true;
}

// BUS.DEV in decimal: bus 1 to 65535, address 1 to 127.
bool ParseAddress(const std::string& text, CliOptions& options)
{
    constexpr std::uint32_t kLastBus = 0xFFFF;
    constexpr std::uint32_t kLastAddress = 127;
    const std::size_t dot = text.find('.');
    std::uint32_t bus = 0;
    std::uint32_t address = 0;
    if (dot == std::string::npos || !ParseNumber(text.substr(0, dot).c_str(), bus) ||
        !ParseNumber(text.substr(dot + 1).c_str(), address) || bus == 0 || bus > kLastBus || address == 0 ||
        address > kLastAddress) {
        return false;
    }
    options.bus = static_cast<std::uint16_t>(bus);
    options.address = static_cast<std::uint8_t>(address);
    return true;
}

bool ParseDevice(const std::string& text, CliOptions& options)
{
    const std::size_t colon = text.find(':');
    return colon != std::string::npos && ParseHex16(text.substr(0, colon), options.vendorId) &&
           ParseHex16(text.substr(colon + 1), options.productId);
}

// Options that take a number, and where the number goes.
struct NumberOption {
    const char* name;
    std::uint32_t CliOptions::*field;
    std::uint32_t models::HidFaults::*fault;
};

constexpr NumberOption kNumberOptions[] = {
    {"--time-scale", &CliOptions::timeScale, nullptr},
    {"--latency", &CliOptions::latencyMs, nullptr},
    {"--refuse-report", nullptr, &models::HidFaults::refuseReport},
    {"--stall-report", nullptr, &models::HidFaults::stallReport},
    {"--remove-after", nullptr, &models::HidFaults::removeAfterReports},
    {"--fail-reply", nullptr, &models::HidFaults::failReply},
    {"--stall-reply", nullptr, &models::HidFaults::stallReply},
};

struct FlagOption {
    const char* name;
    bool models::HidFaults::*fault;
};

constexpr FlagOption kFlagOptions[] = {
    {"--probe-open-fails", &models::HidFaults::probeOpenFails},
    {"--attributes-unreadable", &models::HidFaults::attributesUnreadable},
    {"--caps-unreadable", &models::HidFaults::capsUnreadable},
    {"--rw-open-refused", &models::HidFaults::readWriteOpenRefused},
};

// Model options offered as options of their own.
struct ModelOption {
    const char* name;
    const char* modelName;
    bool takesNumber;
};

constexpr ModelOption kModelOptions[] = {
    {"--refuse-start", "refuse-start", true},
    {"--no-identify-reply", "no-identify-reply", false},
};

// Options that take a file name, and where it goes (null for any other option).
std::string* PathOption(const std::string& arg, CliOptions& options)
{
    if (arg == "--trace") return &options.tracePath;
    if (arg == "--flash-out") return &options.flashPath;
    if (arg == "--usb-tree") return &options.usbTreePath;
    if (arg == "--pcap") return &options.pcapPath;
    if (arg == "--check-capture") return &options.checkCapturePath;
    if (arg == "--image") return &options.imagePath;
    if (arg == "--list-devices") return &options.listDevicesPath;
    return nullptr;
}

// The options that go together.
bool CheckCombination(const CliOptions& options, std::string& error)
{
    const bool checking = !options.checkCapturePath.empty();
    const bool listing = !options.listDevicesPath.empty();
    if (options.help || options.version) return true;
    if (listing && (checking || options.haveDevice || options.haveAddress || !options.imagePath.empty())) {
        error = "--list-devices takes no other option but --json";
        return false;
    }
    if (!listing && !options.haveDevice) error = "--device VID:PID is required";
    else if (!options.imagePath.empty() && !checking) error = "--image goes with --check-capture";
    else if (options.json && !checking && !listing) error = "--json goes with --check-capture or --list-devices";
    else if (options.haveAddress && !checking && options.pcapPath.empty()) {
        error = "--address goes with --check-capture or --pcap";
    } else if (checking && !capture::HasProtocol(options.vendorId, options.productId)) {
        char ids[16];
        std::snprintf(ids, sizeof ids, "%04x:%04x", options.vendorId, options.productId);
        error = std::string(ids) + " is not a device in an update mode: no protocol to check a capture against";
    }
    return error.empty();
}

}  // namespace

const char* CliUsage()
{
    return "usage: oskel-sim --device VID:PID [--road start|arrival] [--trace FILE] [options]\n"
           "       oskel-sim --check-capture FILE --device VID:PID [--address BUS.DEV] [--image FILE] [--json]\n"
           "       oskel-sim --list-devices FILE [--json]\n"
           "  --device VID:PID        the simulated device (hexadecimal ids), plugged in\n"
           "  --road start|arrival    press Start once (default), or plug the device in\n"
           "  --trace FILE            write the trace of the run to FILE\n"
           "  --flash-out FILE        write the device's flash to FILE at the end\n"
           "  --usb-tree FILE         the simulated USB tree for the topology walk\n"
           "  --pcap FILE             write the run's HID traffic to FILE as a USB capture (pcapng)\n"
           "  --pcap-link usbmon|usbpcap  its link type: Linux usbmon (default) or USBPcap\n"
           "  --address BUS.DEV       the device's bus and address in it (default 1.2)\n"
           "  --time-scale N          simulated time runs N times faster (default 1)\n"
           "  --tick N                the tick count the updater reads (fixed)\n"
           "  --latency MS            real time the device takes per report and reply\n"
           "  --upper-case            the device's interface paths in upper case\n"
           "  --keyboard-first        (mode 3) a keyboard interface comes before the\n"
           "                          controller's own, as on a composite device\n"
           "faults:\n"
           "  --refuse-report N       the device refuses report N (writes and set-reports, from 1)\n"
           "  --stall-report N        report N never completes\n"
           "  --remove-after N        the device is unplugged after N accepted reports\n"
           "  --fail-reply N          reply N (reads and get-reports, from 1) fails\n"
           "  --stall-reply N         reply N never comes\n"
           "  --probe-open-fails      the identification open fails\n"
           "  --attributes-unreadable the vendor and product ids cannot be read\n"
           "  --caps-unreadable       the collection's usage cannot be read\n"
           "  --rw-open-refused       another program holds the device without sharing\n"
           "  --refuse-start K        (mode 2) the start report is refused K times\n"
           "  --no-identify-reply     (mode 1) no answer to the identify command\n"
           "  --option NAME=VALUE     any other option of the device model\n"
           "checking a capture (no run; FILE - is standard input):\n"
           "  --check-capture FILE    feed the host's reports of each device VID:PID in FILE\n"
           "                          (pcapng or pcap, usbmon or USBPcap) to its protocol's model;\n"
           "                          exit 0 every one conforms, 1 one does not, 3 none in FILE,\n"
           "                          4 FILE cannot be read\n"
           "  --address BUS.DEV       only the device there (one whose enumeration FILE lacks, too)\n"
           "  --image FILE            and compare the flash the capture wrote with FILE\n"
           "  --list-devices FILE     the devices in FILE: ids, strings, interfaces, transfers\n"
           "  --json                  the verdict or the list as one JSON object\n"
           "  --version               the updater's version\n"
           "  --help                  this text\n";
}

bool ParseCliOptions(int argc, char** argv, CliOptions& options, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        auto needValue = [&]() {
            if (!value) error = "option " + arg + " needs a value";
            return value != nullptr;
        };
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            continue;
        }
        if (arg == "--version") {
            options.version = true;
            continue;
        }
        if (arg == "--device") {
            if (!needValue()) return false;
            if (!ParseDevice(value, options)) {
                error = "malformed device '" + std::string(value) + "' (expected VID:PID in hexadecimal)";
                return false;
            }
            options.haveDevice = true;
            ++i;
            continue;
        }
        if (arg == "--address") {
            if (!needValue()) return false;
            if (!ParseAddress(value, options)) {
                error = "malformed address '" + std::string(value) + "' (expected BUS.DEV, bus 1-65535, address 1-127)";
                return false;
            }
            options.haveAddress = true;
            ++i;
            continue;
        }
        if (arg == "--json") {
            options.json = true;
            continue;
        }
        if (arg == "--road") {
            if (!needValue()) return false;
            if (std::strcmp(value, "start") == 0) options.arrivalRoad = false;
            else if (std::strcmp(value, "arrival") == 0) options.arrivalRoad = true;
            else {
                error = "unknown road '" + std::string(value) + "' (start or arrival)";
                return false;
            }
            ++i;
            continue;
        }
        if (std::string* path = PathOption(arg, options)) {
            if (!needValue()) return false;
            *path = value;
            ++i;
            continue;
        }
        if (arg == "--pcap-link") {
            if (!needValue()) return false;
            if (std::strcmp(value, "usbmon") == 0) options.pcapLink = capture::CaptureLink::Usbmon;
            else if (std::strcmp(value, "usbpcap") == 0) options.pcapLink = capture::CaptureLink::UsbPcap;
            else {
                error = "unknown link type '" + std::string(value) + "' (usbmon or usbpcap)";
                return false;
            }
            ++i;
            continue;
        }
        if (arg == "--tick") {
            if (!needValue()) return false;
            if (!ParseNumber(value, options.ticks)) {
                error = "malformed number for --tick";
                return false;
            }
            options.fixTicks = true;
            ++i;
            continue;
        }
        if (arg == "--upper-case") {
            options.upperCase = true;
            continue;
        }
        if (arg == "--keyboard-first") {
            options.keyboardFirst = true;
            continue;
        }
        if (arg == "--option") {
            if (!needValue()) return false;
            const std::string pair = value;
            const std::size_t equals = pair.find('=');
            std::uint32_t number = 0;
            if (equals == std::string::npos || equals == 0 || !ParseNumber(pair.c_str() + equals + 1, number)) {
                error = "malformed --option '" + pair + "' (expected NAME=NUMBER)";
                return false;
            }
            options.modelOptions.emplace_back(pair.substr(0, equals), number);
            ++i;
            continue;
        }
        bool known = false;
        for (const NumberOption& option : kNumberOptions) {
            if (arg != option.name) continue;
            known = true;
            std::uint32_t number = 0;
            if (!needValue()) return false;
            if (!ParseNumber(value, number)) {
                error = "malformed number for " + arg;
                return false;
            }
            if (option.field) options.*option.field = number;
            else options.faults.*option.fault = number;
            ++i;
        }
        for (const FlagOption& option : kFlagOptions) {
            if (arg != option.name) continue;
            known = true;
            options.faults.*option.fault = true;
        }
        for (const ModelOption& option : kModelOptions) {
            if (arg != option.name) continue;
            known = true;
            std::uint32_t number = 1;
            if (option.takesNumber) {
                if (!needValue()) return false;
                if (!ParseNumber(value, number)) {
                    error = "malformed number for " + arg;
                    return false;
                }
                ++i;
            }
            options.modelOptions.emplace_back(option.modelName, number);
        }
        if (!known) {
            error = "unknown option '" + arg + "'";
            return false;
        }
    }
    return CheckCombination(options, error);
}

bool PrepareWorld(const CliOptions& options, std::string& error)
{
    SetTimeScale(options.timeScale);
    if (options.fixTicks) SetFixedTickCount(options.ticks);
    if (options.usbTreePath.empty()) {
        UseDefaultUsbTree();
    } else if (!LoadUsbTree(options.usbTreePath, error)) {
        return false;
    }
    return true;
}

std::shared_ptr<models::HidDevice> MakeConfiguredDevice(const CliOptions& options, std::string& error)
{
    const DownloadModeFacts* updateMode = ModeOfDevice(options.vendorId, options.productId);
    if (options.keyboardFirst && !(updateMode && updateMode->transfer == Transfer::Protocol3)) {
        error = "--keyboard-first is for the device of update mode 3";
        return nullptr;
    }
    std::shared_ptr<models::HidDevice> device = options.keyboardFirst ? models::MakeProtocol3DeviceBehindKeyboard()
                                                              : models::MakeDevice(options.vendorId, options.productId);
    device->faults = options.faults;
    device->latencyMs = options.latencyMs;
    device->upperCasePaths = options.upperCase;
    for (const auto& [name, value] : options.modelOptions) {
        if (!device->SetOption(name, value)) {
            error = "the device model has no option '" + name + "'";
            return nullptr;
        }
    }
    return device;
}

}  // namespace sim
