// oskel-update: the updater as a Linux terminal program, on the same core as the Windows
// dialog. Boxes become lines on standard output; see UpdateUsage() for the roads.
#include <cstdio>
#include <string>

#include "app/dialog_logic.h"
#include "app/linux/give_back.h"
#include "app/linux/list.h"
#include "app/linux/options.h"
#include "app/linux/roads.h"
#include "app/linux/system_sleep.h"
#include "app/linux/terminal.h"
#include "app/linux/version_text.h"
#include "platform/linux/hid_capture.h"
#include "platform/linux/hidraw.h"
#include "platform/linux/session_guard.h"

int main(int argc, char** argv)
{
    UpdateOptions options;
    std::string error;
    if (!ParseUpdateOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "oskel-update: %s\noskel-update: try 'oskel-update --help' for more information\n",
                     error.c_str());
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(UpdateUsage().c_str(), stdout);
        return kExitSucceeded;
    }
    if (options.version) {
        std::fputs(VersionText().c_str(), stdout);
        return kExitSucceeded;
    }

    TerminalSetVerbose(options.verbose);
    if (options.deviceChosen) platform::HidChooseDevice(options.device);
    if (options.list) return RunList(options.json);
    if (!options.capturePath.empty() && !platform::CaptureRequest(options.capturePath, error)) {
        TerminalNotice("--capture: " + error);
        return kExitUsage;
    }
    // Before any thread starts, so that every thread leaves these signals to the main loop.
    if (!platform::SessionSignalsHold()) {
        TerminalNotice("interrupting signals cannot be held off during a download");
    }
    // logind's announcements of a sleep or a shutdown, from now on.
    platform::SessionWatchOpen();
    SetResumeDownloads(options.wait);
    DialogCreateLink();
    const int status = options.wait ? RunArrivalRoad(options.once) : RunStartRoad();
    DialogDestroyLink();
    // Nothing runs any more: what is still claimed goes back to its driver.
    GiveBackAfterDownload();
    if (!options.capturePath.empty() && !platform::CaptureFileMade()) {
        TerminalNotice("no capture written: no controller was opened");
    } else if (!platform::CaptureFinish(error)) {
        TerminalNotice("the capture " + options.capturePath + " is incomplete: " + error);
    }
    // Ended by a signal (taken, or held off until the download had ended): the program ends by it
    // now that it has cleaned up, so that its caller sees that signal.
    if (EndingSignal() != 0) platform::SessionEndBySignal(EndingSignal());
    return status;
}
