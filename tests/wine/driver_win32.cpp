// Drives the updater under Wine the way a user would: finds its dialog, presses Start, reads
// and dismisses its message boxes, watches the progress bar and closes the dialog.
//
//   driver_win32.exe <scenario> --updater EXE --sim EXE --image1 F --image2 F --image3 F --work DIR
//   driver_win32.exe rig-<scenario> --updater EXE --rig DIR --image1 F --image2 F --image3 F --work DIR
//
// The first form runs OskelUpdaterSim.exe against the simulated world, or checks the programs'
// resources; the second runs the updater against virtual controllers behind Wine's own HID stack
// (rig_scenarios_win32.cpp). Paths may be given as Unix paths; they are reached through Wine's Z:
// drive.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "app/dialog_ids.h"

#include "tests/wine/driver_common.h"
#include "tests/wine/rig_scenarios.h"

namespace {

using namespace driver;

void SetSimEnvironment(const char* device, const char* plugMs, const char* latencyMs)
{
    std::string work = Option("work");
    SetEnvironmentVariableA("OSKEL_SIM_DEVICE", device);
    SetEnvironmentVariableA("OSKEL_SIM_PLUG_MS", plugMs);
    SetEnvironmentVariableA("OSKEL_SIM_LATENCY_MS", latencyMs);
    SetEnvironmentVariableA("OSKEL_SIM_TRACE", (work + "\\trace.txt").c_str());
    SetEnvironmentVariableA("OSKEL_SIM_FLASH_OUT", (work + "\\flash.bin").c_str());
    DeleteFileA((work + "\\trace.txt").c_str());
    DeleteFileA((work + "\\flash.bin").c_str());
}

// ---------------------------------------------------------------------------------------------
// Scenarios.

// The shipped program with no controller: Start reports "Device error!".
void ScenarioNoDevice()
{
    Updater updater;
    if (!Launch(updater, Option("updater")) || !FindDialog(updater)) return;
    CheckControls(updater);
    StartWithoutController(updater);
}

// A supported controller in its normal mode: Start shows nothing and starts no download.
void ScenarioNormalController()
{
    SetSimEnvironment("045e:028e", nullptr, nullptr);
    Updater updater;
    if (!Launch(updater, Option("sim")) || !FindDialog(updater)) return;
    StartWithNormalController(updater);
    std::vector<std::string> trace = TraceLines();
    Check(CountEvents(trace, "open probe ok") >= 1, "the finder examined the controller");
    Check(CountEvents(trace, "write ") == 0 && CountEvents(trace, "set-output ") == 0,
          "nothing was sent to the controller");
    if (failures) ShowTraceTail(trace);
}

// A controller in update mode 2 when Start is pressed: a download with a moving bar.
void ScenarioStartProtocol2()
{
    SetSimEnvironment("2563:1818", nullptr, "2");
    Updater updater;
    if (!Launch(updater, Option("sim")) || !FindDialog(updater)) return;
    PressStart(updater);
    WatchDownload(updater, 120000, true);
    FinishDownload(updater, "Download Successful!");
    Check(QueryEndSession(updater) == 1, "the end of the session is allowed again after the download");
    CloseWithEscape(updater);
    CheckFlash("image2", 30744);
    if (failures) ShowTraceTail(TraceLines());
}

// A device that arrives in an update mode: the download starts without a click.
void ScenarioArrival(const char* device, const char* imageOption, std::size_t compared, bool watch)
{
    SetSimEnvironment(device, "1500", watch ? "1" : nullptr);
    Updater updater;
    if (!Launch(updater, Option("sim")) || !FindDialog(updater)) return;
    if (watch) WatchDownload(updater, 120000, false);
    FinishDownload(updater, "Download Successful!");
    CloseWithEscape(updater);
    if (compared > 0) CheckFlash(imageOption, compared);
    if (failures) ShowTraceTail(TraceLines());
}

// The resources as the dialog template table and the resource list describe them.
struct TemplateReader {
    const std::uint8_t* at;
    const std::uint8_t* end;
    bool ok = true;

    template <typename T>
    T Get()
    {
        T value{};
        if (at + sizeof(T) > end) {
            ok = false;
            return value;
        }
        std::memcpy(&value, at, sizeof(T));
        at += sizeof(T);
        return value;
    }
    // A name or ordinal: "#n" for an ordinal, the text otherwise.
    std::string NameOrOrdinal()
    {
        std::uint16_t first = Get<std::uint16_t>();
        if (first == 0) return "";
        if (first == 0xFFFF) return "#" + std::to_string(Get<std::uint16_t>());
        std::string text(1, static_cast<char>(first));
        for (std::uint16_t c = Get<std::uint16_t>(); ok && c != 0; c = Get<std::uint16_t>())
            text += static_cast<char>(c);
        return text;
    }
    void AlignDword(const std::uint8_t* base)
    {
        while ((at - base) % 4 != 0) ++at;
    }
};

struct ExpectedControl {
    int id;
    const char* classOrdinal;
    const char* className;
    const char* text;
    DWORD style;
    DWORD exStyle;
    short x, y, cx, cy;
};

const ExpectedControl kControls[] = {
    {IDC_START, "#128", "button", "Start", 0x50010000, 0, 10, 9, 40, 14},
    {IDC_PROGRESS, "", "msctls_progress32", "Progress1", 0x50800001, 0, 52, 9, 194, 14},
    {IDC_OPEN, "#128", "button", "Open", 0x40010000, 0, 10, 9, 40, 14},
    {IDC_PATH, "#129", "edit", "", 0x40810880, 0, 52, 9, 149, 14},
    {IDC_CHECKSUM, "#130", "static", "", 0x40020001, 0x00020000, 203, 10, 42, 12},
};

bool SameClass(const std::string& got, const ExpectedControl& expected)
{
    if (got == expected.classOrdinal && got[0] == '#') return true;
    return lstrcmpiA(got.c_str(), expected.className) == 0;
}

bool ResourceBytes(HMODULE module, const char* type, int id, WORD language, std::vector<std::uint8_t>& bytes)
{
    HRSRC resource = FindResourceExA(module, type, MAKEINTRESOURCEA(id), language);
    if (resource == nullptr) return false;
    HGLOBAL loaded = LoadResource(module, resource);
    const auto* data = static_cast<const std::uint8_t*>(LockResource(loaded));
    if (data == nullptr) return false;
    bytes.assign(data, data + SizeofResource(module, resource));
    return true;
}

bool ContainsWide(const std::vector<std::uint8_t>& bytes, const char* text)
{
    std::vector<std::uint8_t> wide;
    for (const char* c = text; *c; ++c) {
        wide.push_back(static_cast<std::uint8_t>(*c));
        wide.push_back(0);
    }
    return std::search(bytes.begin(), bytes.end(), wide.begin(), wide.end()) != bytes.end();
}

void CheckProgramResources(const std::string& program)
{
    Log("---- resources of %s", program.c_str());
    HMODULE module = LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!Check(module != nullptr, "the program's resources can be read")) return;
    const WORD chinese = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);

    std::vector<std::uint8_t> dialog;
    if (Check(ResourceBytes(module, MAKEINTRESOURCEA(5), IDD_MAIN, chinese, dialog),
              "dialog 101 in language 2052")) {
        TemplateReader reader{dialog.data(), dialog.data() + dialog.size()};
        std::uint16_t version = reader.Get<std::uint16_t>();
        std::uint16_t signature = reader.Get<std::uint16_t>();
        DWORD helpId = reader.Get<DWORD>();
        DWORD exStyle = reader.Get<DWORD>();
        DWORD style = reader.Get<DWORD>();
        std::uint16_t count = reader.Get<std::uint16_t>();
        short x = reader.Get<short>(), y = reader.Get<short>(), cx = reader.Get<short>(), cy = reader.Get<short>();
        std::string menu = reader.NameOrOrdinal();
        std::string windowClass = reader.NameOrOrdinal();
        std::string title = reader.NameOrOrdinal();
        std::uint16_t points = reader.Get<std::uint16_t>();
        std::uint16_t weight = reader.Get<std::uint16_t>();
        std::uint8_t italic = reader.Get<std::uint8_t>();
        std::uint8_t charset = reader.Get<std::uint8_t>();
        std::string face = reader.NameOrOrdinal();
        Log("     dialog: style %08lx ex %08lx at %d,%d size %dx%d, %u controls, font %u \"%s\" w%u i%u cs%u",
            style, exStyle, x, y, cx, cy, count, points, face.c_str(), weight, italic, charset);
        Check(reader.ok && version == 1 && signature == 0xFFFF && helpId == 0, "an extended template, version 1");
        Check(style == 0x80C80040 && exStyle == 0, "dialog style 0x80C80040, no extended style");
        Check(x == 200 && y == 100 && cx == 249 && cy == 36, "dialog at 200,100, 249 x 36");
        Check(menu.empty() && windowClass.empty(), "no menu, the default dialog class");
        Check(title == kDialogTitle, "the dialog's title");
        Check(points == 10 && face == "System" && weight == 0 && italic == 0 && charset == 1,
              "font System 10, weight 0, not italic, character set 1");
        Check(count == 5, "five controls");
        for (std::uint16_t i = 0; i < count && i < 5 && reader.ok; ++i) {
            reader.AlignDword(dialog.data());
            const ExpectedControl& expected = kControls[i];
            DWORD itemHelp = reader.Get<DWORD>();
            DWORD itemEx = reader.Get<DWORD>();
            DWORD itemStyle = reader.Get<DWORD>();
            short ix = reader.Get<short>(), iy = reader.Get<short>(), icx = reader.Get<short>(), icy = reader.Get<short>();
            DWORD id = reader.Get<DWORD>();
            std::string itemClass = reader.NameOrOrdinal();
            std::string text = reader.NameOrOrdinal();
            std::uint16_t extra = reader.Get<std::uint16_t>();
            reader.at += extra;
            Log("     control %lu: class %s text \"%s\" style %08lx ex %08lx at %d,%d %dx%d", id,
                itemClass.c_str(), text.c_str(), itemStyle, itemEx, ix, iy, icx, icy);
            char what[96];
            std::snprintf(what, sizeof(what), "control %u of the template is %d as the table gives it", i, expected.id);
            Check(reader.ok && itemHelp == 0 && static_cast<int>(id) == expected.id &&
                      SameClass(itemClass, expected) && text == expected.text &&
                      itemStyle == expected.style && itemEx == expected.exStyle && ix == expected.x &&
                      iy == expected.y && icx == expected.cx && icy == expected.cy,
                  what);
        }
    }

    std::vector<std::uint8_t> iconGroup;
    if (Check(ResourceBytes(module, MAKEINTRESOURCEA(14), IDI_MAIN, chinese, iconGroup) && iconGroup.size() >= 6 + 14,
              "icon group 102 in language 2052")) {
        std::uint16_t images = static_cast<std::uint16_t>(iconGroup[4] | iconGroup[5] << 8);
        Check(images == 1 && iconGroup[6] == 32 && iconGroup[7] == 32 && iconGroup[8] == 16,
              "one 32 x 32 image of 16 colours");
    }

    std::vector<std::uint8_t> manifest;
    if (Check(ResourceBytes(module, MAKEINTRESOURCEA(24), 1, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), manifest),
              "manifest in language 1033")) {
        std::string text(manifest.begin(), manifest.end());
        Check(text.find("level=\"asInvoker\"") != std::string::npos &&
                  text.find("uiAccess=\"false\"") != std::string::npos &&
                  text.find("Common-Controls") == std::string::npos,
              "manifest: asInvoker, no uiAccess, no common-controls version");
    }

    std::vector<std::uint8_t> version;
    Check(ResourceBytes(module, MAKEINTRESOURCEA(16), 1, chinese, version) &&
              ContainsWide(version, "Oskel Controller Update") && ContainsWide(version, "1.2"),
          "version information naming the product");

    const char* imageOptions[] = {"image1", "image2", "image3"};
    for (int i = 0; i < 3; ++i) {
        std::vector<std::uint8_t> resource;
        std::vector<std::uint8_t> file = ReadFileBytes(Option(imageOptions[i]));
        char what[96];
        std::snprintf(what, sizeof(what), "image resource %d (KT_0575, 2052) equals its file (%zu bytes)",
                      IDR_IMAGE_MODE1 + i, file.size());
        Check(ResourceBytes(module, "KT_0575", IDR_IMAGE_MODE1 + i, chinese, resource) && !file.empty() &&
                  resource == file,
              what);
    }
    FreeLibrary(module);
}

void ScenarioResources()
{
    CheckProgramResources(Option("updater"));
    CheckProgramResources(Option("sim"));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: driver <scenario> --name value ...\n");
        return 2;
    }
    for (int i = 2; i + 1 < argc; i += 2) options[argv[i] + (std::strncmp(argv[i], "--", 2) == 0 ? 2 : 0)] = argv[i + 1];
    std::string scenario = argv[1];
    Log("==== %s", scenario.c_str());

    const std::string rigPrefix = "rig-";
    if (scenario.compare(0, rigPrefix.size(), rigPrefix) == 0) {
        if (!RunRigScenario(scenario.substr(rigPrefix.size()))) {
            std::fprintf(stderr, "unknown scenario %s\n", scenario.c_str());
            return 2;
        }
    } else if (scenario == "resources") ScenarioResources();
    else if (scenario == "no-device") ScenarioNoDevice();
    else if (scenario == "normal-controller") ScenarioNormalController();
    else if (scenario == "start-protocol2") ScenarioStartProtocol2();
    else if (scenario == "arrival-protocol3") ScenarioArrival("0461:4d81", "image3", 195933, true);
    else if (scenario == "arrival-protocol2") ScenarioArrival("2563:1818", "image2", 30744, false);
    else if (scenario == "arrival-protocol1") ScenarioArrival("2563:0059", "image1", 0, false);
    else {
        std::fprintf(stderr, "unknown scenario %s\n", scenario.c_str());
        return 2;
    }
    Log("==== %s: %s", scenario.c_str(), failures == 0 ? "passed" : "FAILED");
    return failures == 0 ? 0 : kFailExit;
}
