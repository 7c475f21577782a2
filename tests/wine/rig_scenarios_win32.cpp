// Scenarios of the unmodified updater against virtual controllers behind Wine's own HID stack
// (setupapi, hid.dll, hidclass.sys and the rig's minidriver, tests/wine/hid/). The driver plugs
// and unplugs controllers with the rig's installer, drives the real dialog, and reads what the
// controller was left with from the record the rig writes into the work folder (flash.bin,
// status.txt, trace.txt).
//
// Options: --updater EXE (the 64-bit or the 32-bit OskelUpdater.exe), --rig DIR (the rig's
// folder with oskel_hid_rig.exe), --work DIR, --image1/2/3 FILE; for exploring by hand,
// --plug-options "OPTIONS" adds installer options (faults, latency) to every plug.
#include "tests/wine/rig_scenarios.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/dialog_ids.h"
#include "platform/win32/claim_name.h"
#include "protocol/time_limits.h"
#include "tests/wine/driver_common.h"

namespace driver {
namespace {

const char kSuccess[] = "Download Successful!";
const char kFailure[] = "Download Failture!";

// The protocols' report time limit: a report that does not complete within it fails the download.
constexpr DWORD kReportLimitMs = kReportWriteLimitMs;
// What the result box may take beyond that limit: the cancelled report, the worker's cleanup.
constexpr DWORD kResultMarginMs = 4000;
// A whole download of any mode, with room for a slow machine.
constexpr DWORD kDownloadLimitMs = 120000;

// Where each mode's image goes in the controller's flash (as the host tests compare them):
// mode 1 programs the application region from 0x0A00 up to the last byte, which it leaves erased;
// mode 2 streams the first 30744 bytes; mode 3 the whole image.
struct FlashSpan {
    const char* imageOption;
    std::size_t from;
    std::size_t to;
};
constexpr FlashSpan kMode1Flash{"image1", 0x0A00, 0x7FFF};
constexpr FlashSpan kMode2Flash{"image2", 0, 30744};
constexpr FlashSpan kMode3Flash{"image3", 0, 195933};

// Runs the rig's installer with these arguments and waits for it; its exit code, or -1.
int RunRig(const std::string& arguments)
{
    const std::string program = Option("rig") + "\\oskel_hid_rig.exe";
    std::string commandLine = "\"" + program + "\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        Log("     cannot start %s (error %lu)", program.c_str(), GetLastError());
        return -1;
    }
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
    else TerminateProcess(process.hProcess, 99);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return static_cast<int>(code);
}

bool Plug(const char* device, const std::string& extra = "")
{
    DWORD start = GetTickCount();
    const std::string all = extra + " " + options["plug-options"];
    const int code = RunRig(std::string("plug ") + device + " --record \"" + Option("work") + "\" " + all);
    Log("     plugged %s %s in %lu ms", device, all.c_str(), GetTickCount() - start);
    return Check(code == 0, "the rig plugs the controller in");
}

bool Unplug()
{
    return Check(RunRig("unplug") == 0, "the rig unplugs the controllers");
}

// The controller's status.txt: the key=value fields of its first line, and its error lines.
struct ControllerStatus {
    std::map<std::string, long> fields;
    std::vector<std::string> errors;

    long Field(const std::string& name) const
    {
        auto found = fields.find(name);
        return found == fields.end() ? -1 : found->second;
    }
};

ControllerStatus ReadStatus()
{
    ControllerStatus status;
    std::ifstream file(Option("work") + "\\status.txt");
    std::string line;
    if (std::getline(file, line)) {
        Log("     controller: %s", line.c_str());
        std::size_t at = 0;
        while (at < line.size()) {
            std::size_t end = line.find(' ', at);
            if (end == std::string::npos) end = line.size();
            const std::string field = line.substr(at, end - at);
            const std::size_t equals = field.find('=');
            if (equals != std::string::npos)
                status.fields[field.substr(0, equals)] = std::strtol(field.c_str() + equals + 1, nullptr, 10);
            at = end + 1;
        }
    }
    while (std::getline(file, line)) {
        Log("     controller: %s", line.c_str());
        status.errors.push_back(line);
    }
    return status;
}

// Clears what an earlier scenario left: controllers and their record.
void FreshWorld()
{
    Unplug();
    for (const char* name : {"\\status.txt", "\\flash.bin", "\\trace.txt"})
        DeleteFileA((Option("work") + name).c_str());
}

void CheckCompleteDownload(const FlashSpan& flash)
{
    const ControllerStatus status = ReadStatus();
    Check(status.Field("complete") == 1, "the controller received a whole download");
    Check(status.Field("protocol-errors") == 0, "the controller found no protocol error");
    Check(status.Field("refused") == 0, "the controller refused no report");
    Check(status.Field("stack-refusals") == 0, "every request fitted the collection's declared reports");
    CheckFlashRange(flash.imageOption, flash.from, flash.to);
}

// ---------------------------------------------------------------------------------------------

// A controller in an update mode when Start is pressed.
void StartDownload(const char* device, const FlashSpan& flash)
{
    FreshWorld();
    if (!Plug(device)) return;
    Updater updater;
    if (!Launch(updater, Option("updater")) || !FindDialog(updater)) return;
    CheckControls(updater);
    PressStart(updater);
    WatchDownload(updater, kDownloadLimitMs, true);
    FinishDownload(updater, kSuccess);
    CloseWithEscape(updater);
    Unplug();
    CheckCompleteDownload(flash);
}

// A controller plugged in, in an update mode, while the dialog is open: the system's arrival
// notification starts the download without a click.
void ArrivalDownload(const char* device, const FlashSpan& flash, bool watch)
{
    FreshWorld();
    Updater updater;
    if (!Launch(updater, Option("updater")) || !FindDialog(updater)) return;
    CheckControls(updater);
    if (!Plug(device)) return;
    if (watch) WatchDownload(updater, kDownloadLimitMs, false);
    FinishDownload(updater, kSuccess);
    CloseWithEscape(updater);
    Unplug();
    CheckCompleteDownload(flash);
}

void ScenarioNoController()
{
    FreshWorld();
    Updater updater;
    if (!Launch(updater, Option("updater")) || !FindDialog(updater)) return;
    StartWithoutController(updater);
}

// A supported controller in its normal mode: Start shows nothing and sends it nothing.
void ScenarioNormalController()
{
    FreshWorld();
    if (!Plug("045e:028e")) return;
    Updater updater;
    if (!Launch(updater, Option("updater")) || !FindDialog(updater)) return;
    StartWithNormalController(updater);
    Unplug();
    const ControllerStatus status = ReadStatus();
    Check(status.Field("reports") == 0 && status.Field("replies") == 0, "nothing was sent to the controller");
}

// The controller refuses report 5 (a data report of mode 2): the download fails, and nothing
// more is sent after the refused report.
void ScenarioRefusedReport()
{
    FreshWorld();
    if (!Plug("2563:1818", "--refuse-report 5")) return;
    Updater updater;
    if (!Launch(updater, Option("updater")) || !FindDialog(updater)) return;
    PressStart(updater);
    FinishDownload(updater, kFailure);
    CloseWithEscape(updater);
    Unplug();
    const ControllerStatus status = ReadStatus();
    Check(status.Field("reports") == 5 && status.Field("accepted") == 4,
          "the controller took 4 reports, refused the 5th and saw no further one");
    Check(status.Field("complete") == 0, "the download is incomplete");
}

// The dialog's private messages as another program on the desktop can post them: lift the
// shutdown block, give back the keep-awake request, show the box at a made-up address.
constexpr UINT kForgedMessages[] = {WM_APP + 0x66, WM_APP + 0x67, WM_APP + 0x68};

void PostForgedMessages(const Updater& updater)
{
    for (UINT message : kForgedMessages) PostMessageA(updater.dialog, message, 0, 0x4000);
}

// Report 5 never completes: the download fails within the report's time limit, the dialog
// answers meanwhile and cannot be closed until the worker has ended. The dialog's private
// messages, posted by another program meanwhile, are ignored, and the debugger output says so.
void ScenarioStalledReport()
{
    FreshWorld();
    if (!ListenToDebugOutput()) return;
    if (!Plug("2563:1818", "--stall-report 5")) return;
    Updater updater;
    if (!Launch(updater, Option("updater")) || !FindDialog(updater)) return;
    const DWORD pressed = GetTickCount();
    PressStart(updater);
    bool answered = true;
    bool closeRefused = true;
    bool sessionEndRefused = true;
    int sessionEndAsked = 0;
    bool forged = false;
    Box box;
    while (!FindBox(updater, box) && GetTickCount() - pressed < kReportLimitMs + kResultMarginMs) {
        answered = answered && Responds(updater);
        if (!IsWindowEnabled(Item(updater, IDC_START))) {
            if (!forged) PostForgedMessages(updater);
            forged = true;
            PostMessageA(updater.dialog, WM_CLOSE, 0, 0);
            Sleep(50);
            closeRefused = closeRefused && IsWindow(updater.dialog) && !Exited(updater, 0);
            // The controls come back before the transfer gives the session back: an answer counts
            // when Start is still disabled after it.
            const LRESULT endOfSession = QueryEndSession(updater);
            if (!IsWindowEnabled(Item(updater, IDC_START))) {
                ++sessionEndAsked;
                sessionEndRefused = sessionEndRefused && endOfSession == 0;
            }
        }
        Sleep(100);
    }
    const DWORD waited = GetTickCount() - pressed;
    Log("     %lu ms from Start to the result box (limit %lu + %lu)", waited, kReportLimitMs, kResultMarginMs);
    Check(answered, "the dialog answers while the report hangs");
    Check(closeRefused, "closing is refused while the download runs");
    Check(sessionEndAsked > 0 && sessionEndRefused, "the end of the session is refused while the download runs");
    for (UINT message : kForgedMessages) {
        char ignored[64];
        std::snprintf(ignored, sizeof ignored, "private message 0x%04X ignored", message);
        const std::string what = std::string("the debugger output says: ") + ignored;
        Check(forged && WroteDebugLine(updater, ignored), what.c_str());
    }
    if (!Check(FindBox(updater, box), "the result box comes within the report's time limit and the margin")) {
        Check(IsWindow(updater.dialog), "the dialog is still there");
        return;
    }
    FinishDownload(updater, kFailure);
    CloseWithEscape(updater);
    Unplug();
    const ControllerStatus status = ReadStatus();
    Check(status.Field("reports") == 5 && status.Field("accepted") == 4,
          "the controller took 4 reports, held the 5th and saw no further one");
}

// The controller is unplugged in the middle of a download: the download fails without a hang;
// plugged back in, it downloads through the arrival road.
void ScenarioUnplugMidDownload()
{
    FreshWorld();
    // 12 ms per report keep the download running for about 7 s, long enough to be interrupted
    // even where starting the installer takes a while.
    if (!Plug("2563:1818", "--latency 12")) return;
    Updater updater;
    if (!Launch(updater, Option("updater")) || !FindDialog(updater)) return;
    PressStart(updater);
    const bool midway = WaitFor(
        [&] {
            const LRESULT position = BarPosition(updater);
            return position > 0 && position < 5000;
        },
        30000);
    if (!Check(midway, "the download gets under way")) return;
    Unplug();
    const DWORD unplugged = GetTickCount();
    Box box;
    const bool ended = WaitForBox(updater, box, kReportLimitMs + kResultMarginMs);
    Log("     %lu ms from the unplug to the result box", GetTickCount() - unplugged);
    Check(ended, "the result box comes within the report's time limit and the margin");
    FinishDownload(updater, kFailure);
    Check(Responds(updater), "the dialog still answers");

    if (!Plug("2563:1818")) return;
    FinishDownload(updater, kSuccess);
    CloseWithEscape(updater);
    Unplug();
    CheckCompleteDownload(kMode2Flash);
}

// The user closes the dialog (WM_CLOSE, as the taskbar or taskkill without /F sends it) while the
// "Device error!" box is up, and a controller in update mode is plugged in meanwhile: the box's
// message loop delivers its arrival to the dialog, which starts nothing, for the dialog goes as
// soon as the box is dismissed and would cut a download off mid-flash.
void ScenarioCloseInsideBox()
{
    FreshWorld();
    Updater updater;
    if (!Launch(updater, Option("updater")) || !FindDialog(updater)) return;
    PressStart(updater);
    Box box;
    if (!Check(WaitForBox(updater, box, 20000) && box.text == "Device error!", "the \"Device error!\" box")) return;
    PostMessageA(updater.dialog, WM_CLOSE, 0, 0);
    Sleep(500);
    Check(IsWindow(updater.dialog) && !Exited(updater, 0), "the dialog stays until its box is dismissed");
    if (!Plug("2563:1818")) return;
    Sleep(3000);  // the arrival reaches the dialog inside the box's loop
    Dismiss(updater, box);
    Check(Exited(updater, 10000), "the program ends once the box is dismissed");
    Unplug();
    const ControllerStatus status = ReadStatus();
    Check(status.Field("reports") <= 0 && status.Field("replies") <= 0, "nothing was sent to the controller");
}

// Two copies of the program run (a double double-click is enough) when a controller in update mode
// is plugged in: both see its arrival, exactly one downloads to it, and the other leaves it alone,
// shows nothing and tells why in its debugger output.
void ScenarioTwoPrograms()
{
    FreshWorld();
    if (!ListenToDebugOutput()) return;
    Updater first;
    Updater second;
    if (!Launch(first, Option("updater")) || !FindDialog(first)) return;
    if (!Launch(second, Option("updater")) || !FindDialog(second)) return;
    if (!Plug("0461:4d81")) return;
    Box box;
    const bool shown = WaitFor([&] { return FindBox(first, box) || FindBox(second, box); }, kDownloadLimitMs);
    if (!Check(shown, "a result box comes")) return;
    Updater& writer = FindBox(first, box) ? first : second;
    Updater& other = &writer == &first ? second : first;
    FinishDownload(writer, kSuccess);
    Check(!FindBox(other, box), "the other copy shows no box");
    Check(Responds(other) && IsWindowEnabled(Item(other, IDC_START)) && BarPosition(other) == 0,
          "the other copy answers, with Start enabled and its bar at 0");
    Check(WroteDebugLine(other, "another copy of the updater is writing to this controller"),
          "the other copy tells why in its debugger output");
    CloseWithEscape(first);
    CloseWithEscape(second);
    Unplug();
    Check(ReadStatus().Field("reports") == 3381, "the controller saw one download (3381 reports)");
    CheckCompleteDownload(kMode3Flash);
}

// Another program has made the controller's claim before the updater, with a security descriptor
// that lets no one use it (a squatter): the updater cannot tell whether a copy of its own writes to
// the controller, says so in its debugger output, and updates it all the same, as it did before
// claims existed.
void ScenarioSquattedClaim()
{
    FreshWorld();
    if (!ListenToDebugOutput()) return;
    struct {
        ACL acl;  // no entry: no access for anyone
        SECURITY_DESCRIPTOR descriptor;
        SECURITY_ATTRIBUTES attributes;
    } nobody = {};
    nobody.acl.AclRevision = ACL_REVISION;
    nobody.acl.AclSize = sizeof nobody.acl;
    nobody.descriptor.Revision = SECURITY_DESCRIPTOR_REVISION;
    nobody.descriptor.Control = SE_DACL_PRESENT;
    nobody.descriptor.Dacl = &nobody.acl;
    nobody.attributes.nLength = sizeof nobody.attributes;
    nobody.attributes.lpSecurityDescriptor = &nobody.descriptor;
    const std::string path = "\\\\?\\hid#vid_0461&pid_4d81#0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    HANDLE squatter = CreateSemaphoreA(&nobody.attributes, 1, 1, platform::DownloadClaimName(path).c_str());
    if (!Check(squatter != nullptr, "another program makes the controller's claim first")) return;
    Updater updater;
    if (Launch(updater, Option("updater")) && FindDialog(updater) && Plug("0461:4d81")) {
        FinishDownload(updater, kSuccess);
        Check(WroteDebugLine(updater, path + ": the download claim exists but this program may not use it"),
              "the updater tells why it downloads without the claim");
        CloseWithEscape(updater);
    }
    CloseHandle(squatter);
    Unplug();
    CheckCompleteDownload(kMode3Flash);
}

}  // namespace

bool RunRigScenario(const std::string& scenario)
{
    if (scenario == "start-protocol2") StartDownload("2563:1818", kMode2Flash);
    else if (scenario == "start-protocol3") StartDownload("0461:4d81", kMode3Flash);
    else if (scenario == "arrival-protocol1") ArrivalDownload("2563:0059", kMode1Flash, false);
    else if (scenario == "arrival-protocol2") ArrivalDownload("2563:1818", kMode2Flash, false);
    else if (scenario == "arrival-protocol3") ArrivalDownload("0461:4d81", kMode3Flash, true);
    else if (scenario == "no-controller") ScenarioNoController();
    else if (scenario == "normal-controller") ScenarioNormalController();
    else if (scenario == "refused-report") ScenarioRefusedReport();
    else if (scenario == "stalled-report") ScenarioStalledReport();
    else if (scenario == "unplug-mid-download") ScenarioUnplugMidDownload();
    else if (scenario == "close-inside-box") ScenarioCloseInsideBox();
    else if (scenario == "two-programs") ScenarioTwoPrograms();
    else if (scenario == "squatted-claim") ScenarioSquattedClaim();
    else return false;
    return true;
}

}  // namespace driver
