#include "app/options_linux.h"

#include <cstring>

bool ParseUpdateOptions(int argc, char** argv, UpdateOptions& options, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
            options.help = true;
        } else if (std::strcmp(argument, "--version") == 0 || std::strcmp(argument, "-V") == 0) {
            options.version = true;
        } else if (std::strcmp(argument, "--verbose") == 0 || std::strcmp(argument, "-v") == 0) {
            options.verbose = true;
        } else if (std::strcmp(argument, "--wait") == 0) {
            options.wait = true;
        } else if (std::strcmp(argument, "--once") == 0) {
            options.once = true;
        } else if (std::strcmp(argument, "--capture") == 0) {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                error = "--capture needs a file";
                return false;
            }
            options.capturePath = argv[++i];
        } else {
            error = std::string("unknown option '") + argument + "'";
            return false;
        }
    }
    if (options.once && !options.wait) {
        error = "--once goes with --wait";
        return false;
    }
    return true;
}

const char* UpdateUsage()
{
    return "usage: oskel-update [--verbose] [--capture FILE]\n"
           "       oskel-update --wait [--once] [--verbose] [--capture FILE]\n"
           "       oskel-update --help | --version\n"
           "\n"
           "Updates the firmware of a USB game controller that sits in one of its update modes,\n"
           "with the image the program carries for that mode:\n"
           "  mode 1: 2563:0059    mode 2: 2563:1818    mode 3: 0461:4d81\n"
           "\n"
           "  (no option)  looks once for a controller in update mode 2 or 3 and updates it.\n"
           "               A supported controller in its normal mode is named and left alone.\n"
           "               The Windows program walks the USB topology here (it asks every USB\n"
           "               device of the machine for a string that nothing reads); that walk\n"
           "               does not run on Linux.\n"
           "  --wait       updates each controller that is in an update mode: first those that\n"
           "               are plugged in already, then each one that udev announces, until\n"
           "               interrupted. Mode 1 (2563:0059) is reached this way only.\n"
           "  --once       with --wait: ends when the first download has ended.\n"
           "  --verbose    writes the updater's diagnostic lines to standard error.\n"
           "  --capture FILE\n"
           "               writes the controllers' HID traffic to FILE as a USB capture (pcapng,\n"
           "               Linux usbmon) that Wireshark and tshark open, and that\n"
           "               oskel-sim --check-capture checks against the controllers' protocols.\n"
           "  --help       this text.\n"
           "  --version    the program's version.\n"
           "\n"
           "Standard output shows the outcome (\"Download Successful!\" or \"Download Failture!\")\n"
           "and the progress: a bar on a terminal, \"progress N%\" lines otherwise.\n"
           "While a download runs, Ctrl-C, SIGTERM and SIGHUP take effect only when it has\n"
           "ended, and where systemd-logind runs, sleep and shutdown wait for it.\n"
           "\n"
           "Access: the udev rules 70-oskel-update.rules let the logged-in user open the\n"
           "controllers' hidraw nodes; without them, run oskel-update with sudo.\n"
           "\n"
           "Exit status: 0 when a download succeeded (with --wait: at least one ran and every\n"
           "one that ran succeeded), 1 when one failed or none started, 2 for bad usage.\n";
}
