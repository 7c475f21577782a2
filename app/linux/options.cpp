#include "app/linux/options.h"

#include <getopt.h>
#include <limits.h>
#include <stdlib.h>

#include <cstdio>
#include <memory>

#include "app/linux/controllers.h"

namespace {

enum LongOnly { kOnce = 256, kList, kJson, kDevice, kCapture };

constexpr option kOptions[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"verbose", no_argument, nullptr, 'v'},
    {"wait", no_argument, nullptr, 'w'},
    {"once", no_argument, nullptr, kOnce},
    {"list", no_argument, nullptr, kList},
    {"json", no_argument, nullptr, kJson},
    {"device", required_argument, nullptr, kDevice},
    {"capture", required_argument, nullptr, kCapture},
    {nullptr, 0, nullptr, 0},
};

// "2563:1818" (one to four hexadecimal digits each), or the path of a node ("/dev/hidraw3",
// resolved when it exists). A file that exists and is not a hidraw node is refused, with why.
bool ParseDevice(const char* text, platform::HidDeviceChoice& choice, std::string& error)
{
    error = std::string("--device takes VID:PID (hexadecimal, as 2563:1818) or a node (/dev/hidraw3), not '") + text + "'";
    unsigned vendor = 0;
    unsigned product = 0;
    int consumed = 0;
    if (text[0] != '/') {
        if (std::sscanf(text, "%4x:%4x%n", &vendor, &product, &consumed) != 2 || text[consumed] != '\0') return false;
        choice.byIds = true;
        choice.vendorId = static_cast<std::uint16_t>(vendor);
        choice.productId = static_cast<std::uint16_t>(product);
        return true;
    }
    std::unique_ptr<char, decltype(&free)> resolved(realpath(text, nullptr), &free);
    choice.byIds = false;
    choice.node = resolved ? resolved.get() : text;
    if (resolved && !platform::HidIsHidrawNode(choice.node)) {
        error = std::string("--device=") + text + ": not a hidraw node (a controller's node is /dev/hidrawN: " +
                "'oskel-update --list' names them)";
        return false;
    }
    return true;
}

}  // namespace

bool ParseUpdateOptions(int argc, char** argv, UpdateOptions& options, std::string& error)
{
    opterr = 0;  // the program says what is wrong itself
    optind = 1;
    for (;;) {
        const int found = getopt_long(argc, argv, ":hVvw", kOptions, nullptr);
        if (found == -1) break;
        switch (found) {
        case 'h': options.help = true; break;
        case 'V': options.version = true; break;
        case 'v': options.verbose = true; break;
        case 'w': options.wait = true; break;
        case kOnce: options.once = true; break;
        case kList: options.list = true; break;
        case kJson: options.json = true; break;
        case kDevice:
            if (!ParseDevice(optarg, options.device, error)) return false;
            options.deviceChosen = true;
            break;
        case kCapture:
            if (optarg[0] == '\0') {
                error = "--capture needs a file";
                return false;
            }
            options.capturePath = optarg;
            break;
        case ':':
            error = std::string(argv[optind - 1]) + " needs a value";
            return false;
        default:
            error = optopt != 0 ? std::string("unknown option '-") + static_cast<char>(optopt) + "'"
                                : std::string("unknown option '") + argv[optind - 1] + "'";
            return false;
        }
    }
    if (optind < argc) {
        error = std::string("unexpected argument '") + argv[optind] + "'";
        return false;
    }
    if (options.once && !options.wait) {
        error = "--once goes with --wait";
        return false;
    }
    if (options.json && !options.list) {
        error = "--json goes with --list";
        return false;
    }
    if (options.list && (options.wait || !options.capturePath.empty())) {
        error = "--list goes without --wait and --capture";
        return false;
    }
    return true;
}

std::string UpdateUsage()
{
    return std::string("usage: oskel-update [-v] [--device=VID:PID|NODE] [--capture=FILE]\n"
           "       oskel-update -w [--once] [-v] [--device=VID:PID|NODE] [--capture=FILE]\n"
           "       oskel-update --list [--json] [--device=VID:PID|NODE]\n"
           "       oskel-update -h | -V\n"
           "\n"
           "Updates the firmware of a USB game controller that sits in one of its update modes,\n"
           "with the image the program carries for that mode:\n  ") +
           UpdateModesText() +
           "\n\n"
           "  (no option)      looks once for a controller in update mode 2 or 3 and updates the\n"
           "                   first one found; each other controller in an update mode is named\n"
           "                   with the command that updates it (one in mode 1: --wait).\n"
           "                   A supported controller in its normal mode is named as such and left\n"
           "                   alone, and the search goes on to the update modes. The Windows program\n"
           "                   walks the USB topology for such a controller (it asks every USB\n"
           "                   device of the machine for a string that nothing reads); that walk\n"
           "                   does not run on Linux.\n"
           "  -w, --wait       updates each controller that is in an update mode: first those\n"
           "                   that are plugged in already, then each one that udev announces,\n"
           "                   until interrupted. Mode 1 is reached this way only. Where no udev\n"
           "                   daemon runs (a container), arrivals cannot be seen: it says so and\n"
           "                   ends with 1.\n"
           "      --once       with --wait: ends when the first download has ended.\n"
           "      --list       lists the controllers this program knows that are plugged in: node,\n"
           "                   ids, mode, and whether this user may open it (if not, why).\n"
           "      --json       with --list: as one JSON document (README, the manual page).\n"
           "      --device=VID:PID, --device=NODE\n"
           "                   considers that controller only (ids as 2563:1818, or /dev/hidrawN;\n"
           "                   a file that is no hidraw node is bad usage).\n"
           "      --capture=FILE\n"
           "                   writes the controllers' HID traffic to FILE as a USB capture (pcapng,\n"
           "                   Linux usbmon) that Wireshark and tshark open, and that\n"
           "                   oskel-sim --check-capture checks against the controllers' protocols.\n"
           "                   FILE is made when a controller is found; a symbolic link is refused.\n"
           "  -v, --verbose    writes the updater's diagnostic lines to standard error.\n"
           "  -h, --help       this text.\n"
           "  -V, --version    the program's version, and each embedded image's size and SHA-256.\n"
           "\n"
           "Standard output shows the outcome (\"Download Successful!\", \"Download Failture!\",\n"
           "\"Device error!\") and the progress: a bar on a terminal, \"progress N%\" lines otherwise.\n"
           "Errors and notices go to standard error, each line starting with \"oskel-update: \".\n"
           "While a download runs, Ctrl-C, Ctrl-\\, Ctrl-Z, SIGTERM and SIGHUP take effect only when\n"
           "it has ended (a signal the caller ignored, as nohup ignores SIGHUP, stays ignored), and\n"
           "where systemd-logind runs, sleep, shutdown, the power and sleep keys and the lid switch\n"
           "wait for it. A signal that ends the program ends it by that signal, after its clean-up;\n"
           "with --wait it first says how many downloads ran and how they ended.\n"
           "\n"
           "Access: the udev rules 70-oskel-update.rules let the user at the seat open the\n"
           "controllers in their update modes; without them, run oskel-update with sudo. A\n"
           "controller in its normal mode needs no access: it is named, never written.\n"
           "\n"
           "Exit status: 0 a download succeeded (with --wait: at least one ran and every one that\n"
           "ran succeeded; --list: when udev answers), 1 a download failed, a controller in an update\n"
           "mode was found and not updated (it could not be opened, or Start found it in mode 1), or\n"
           "the program cannot run here (udev cannot be asked; --wait without a udev daemon), 2 bad\n"
           "usage, 3 no controller in an update mode was found (without --wait). Ended by signal N,\n"
           "the program ends by that signal: the shell shows 128+N (130 for Ctrl-C).\n";
}
