// oskel-update: the updater as a Linux terminal program, on the same core as the Windows
// dialog. Boxes become lines on standard output; see UpdateUsage() for the roads.
#include <cstdio>
#include <string>

#include "app/dialog_logic.h"
#include "app/options_linux.h"
#include "app/roads_linux.h"
#include "oskel_version.h"
#include "capture/capture_writer.h"
#include "platform/session_guard_linux.h"
#include "platform/terminal_linux.h"

int main(int argc, char** argv)
{
    UpdateOptions options;
    std::string error;
    if (!ParseUpdateOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "oskel-update: %s\nTry 'oskel-update --help' for more information.\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(UpdateUsage(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("oskel-update %s\n", OSKEL_VERSION_TEXT);
        return 0;
    }

    platform::TerminalSetVerbose(options.verbose);
    // Before any thread starts, so that every thread leaves these signals to the main loop.
    if (!platform::SessionSignalsHold()) {
        platform::TerminalNotice("interrupting signals cannot be held off during a download");
    }
    if (!options.capturePath.empty() && !capture::CaptureOpen(options.capturePath, capture::CaptureLink::Usbmon, error)) {
        platform::TerminalNotice("cannot write the capture " + options.capturePath + ": " + error);
        return 1;
    }
    DialogCreateLink();
    const int status = options.wait ? RunArrivalRoad(options.once) : RunStartRoad();
    DialogDestroyLink();
    if (capture::CaptureIsOpen() && !capture::CaptureClose(error)) {
        platform::TerminalNotice("the capture " + options.capturePath + " is incomplete: " + error);
    }
    return status;
}
