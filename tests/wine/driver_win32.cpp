// Drives the updater under Wine the way a user would: finds its dialog, presses Start, reads
// and dismisses its message boxes, watches the progress bar and closes the dialog.
//
//   driver_win32.exe <scenario> --updater EXE --sim EXE --image1 F --image2 F --image3 F --work DIR
//
// Paths may be given as Unix paths; they are reached through Wine's Z: drive.
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

namespace {

const char* const kDialogTitle = "Oskel_Controller_UPDATE_V1.2";
constexpr int kFailExit = 1;

std::map<std::string, std::string> options;
int failures = 0;

void Log(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

bool Check(bool condition, const char* what)
{
    Log("%s %s", condition ? "ok  " : "FAIL", what);
    if (!condition) ++failures;
    return condition;
}

std::string WindowsPath(std::string path)
{
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

std::string Option(const char* name) { return WindowsPath(options[name]); }

std::vector<std::uint8_t> ReadFileBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), {});
}

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(10);
    }
    return true;
}

// The window's text in UTF-8 (message boxes may carry Chinese texts).
std::string WindowText(HWND window)
{
    wchar_t wide[512] = {};
    GetWindowTextW(window, wide, 512);
    char text[1536] = {};
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, sizeof(text), nullptr, nullptr);
    return text;
}

std::string ClassOf(HWND window)
{
    char name[128] = {};
    GetClassNameA(window, name, sizeof(name));
    return name;
}

// ---------------------------------------------------------------------------------------------
// The updater process and its windows.

struct Updater {
    PROCESS_INFORMATION process{};
    HWND dialog = nullptr;

    ~Updater()
    {
        if (process.hProcess == nullptr) return;
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
            Log("note: updater still running, ending it");
            TerminateProcess(process.hProcess, 99);
            WaitForSingleObject(process.hProcess, 5000);
        }
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
};

bool Launch(Updater& updater, const std::string& program)
{
    std::string commandLine = "\"" + program + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &updater.process)) {
        Log("FAIL cannot start %s (error %lu)", program.c_str(), GetLastError());
        ++failures;
        return false;
    }
    return true;
}

// Top-level dialog windows of the updater process with this title (all when title is null).
std::vector<HWND> ProcessDialogs(const Updater& updater, const char* title)
{
    struct Search {
        DWORD processId;
        const char* title;
        std::vector<HWND> found;
    } search{updater.process.dwProcessId, title, {}};
    EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            auto* s = reinterpret_cast<Search*>(parameter);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner != s->processId || ClassOf(window) != "#32770" || !IsWindowVisible(window))
                return TRUE;
            if (s->title == nullptr || WindowText(window) == s->title) s->found.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool FindDialog(Updater& updater)
{
    bool found = WaitFor(
        [&] {
            auto dialogs = ProcessDialogs(updater, kDialogTitle);
            if (dialogs.empty()) return false;
            updater.dialog = dialogs.front();
            return true;
        },
        20000);
    return Check(found, "the main dialog appears with its title");
}

struct Box {
    HWND window = nullptr;
    std::string caption;
    std::string text;
};

// The text of a message box: its non-empty static control.
std::string BoxText(HWND box)
{
    std::string text;
    EnumChildWindows(
        box,
        [](HWND child, LPARAM parameter) -> BOOL {
            auto* out = reinterpret_cast<std::string*>(parameter);
            if (ClassOf(child) == "Static" && out->empty()) *out = WindowText(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&text));
    return text;
}

// Any message box of the updater (a dialog window other than the main dialog).
bool FindBox(const Updater& updater, Box& box)
{
    for (HWND window : ProcessDialogs(updater, nullptr)) {
        if (window == updater.dialog) continue;
        box.window = window;
        box.caption = WindowText(window);
        box.text = BoxText(window);
        return true;
    }
    return false;
}

bool WaitForBox(const Updater& updater, Box& box, DWORD timeoutMs)
{
    return WaitFor([&] { return FindBox(updater, box); }, timeoutMs);
}

// Presses the box's OK button and waits until the box is gone (destroyed, not only hidden).
bool Dismiss(const Updater&, const Box& box)
{
    HWND ok = GetDlgItem(box.window, IDOK);
    if (ok != nullptr) PostMessageA(ok, BM_CLICK, 0, 0);
    else PostMessageA(box.window, WM_COMMAND, IDOK, 0);
    return WaitFor([&] { return !IsWindow(box.window); }, 5000);
}

bool ExpectBox(const Updater& updater, const char* caption, const char* text, DWORD timeoutMs)
{
    Box box;
    if (!WaitForBox(updater, box, timeoutMs)) {
        Log("FAIL no message box within %lu ms (expected \"%s\" / \"%s\")", timeoutMs, caption, text);
        ++failures;
        return false;
    }
    Log("     box: caption \"%s\", text \"%s\"", box.caption.c_str(), box.text.c_str());
    bool right = box.caption == caption && box.text == text;
    Check(right, "the message box has the expected caption and text");
    Check(Dismiss(updater, box), "the message box goes away when dismissed");
    return right;
}

HWND Item(const Updater& updater, int id) { return GetDlgItem(updater.dialog, id); }

LRESULT BarPosition(const Updater& updater)
{
    DWORD_PTR position = 0;
    if (!SendMessageTimeoutA(Item(updater, IDC_PROGRESS), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000,
                             &position))
        return -1;
    return static_cast<LRESULT>(position);
}

bool Responds(const Updater& updater)
{
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(updater.dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result) != 0;
}

// Asks the dialog, as the system does at shutdown or log-off, whether the session may end.
// 1: it may; 0: refused; -1: no answer.
LRESULT QueryEndSession(const Updater& updater)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(updater.dialog, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG,
                             5000, &result))
        return -1;
    return result != 0 ? 1 : 0;
}

void PressStart(const Updater& updater)
{
    // As a click on the button: the command reaches the dialog through its message queue.
    PostMessageA(updater.dialog, WM_COMMAND, MAKEWPARAM(IDC_START, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Item(updater, IDC_START)));
}

bool Exited(const Updater& updater, DWORD timeoutMs)
{
    return WaitForSingleObject(updater.process.hProcess, timeoutMs) == WAIT_OBJECT_0;
}

// Escape, as the user presses it in the dialog; the dialog ends through IDCANCEL.
void CloseWithEscape(Updater& updater)
{
    PostMessageA(updater.dialog, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageA(updater.dialog, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    if (!Check(Exited(updater, 5000), "Escape closes the dialog")) {
        // Let a still-open message box and the dialog go, so that the program can end.
        Box box;
        if (FindBox(updater, box)) Dismiss(updater, box);
        PostMessageA(updater.dialog, WM_CLOSE, 0, 0);
    }
    if (!Check(Exited(updater, 10000), "the program ends when the dialog is closed")) return;
    DWORD code = 0;
    GetExitCodeProcess(updater.process.hProcess, &code);
    Log("     exit code %lu", code);
    Check(code == 1, "the exit code is 1");
}

void CheckControls(const Updater& updater)
{
    HWND start = Item(updater, IDC_START);
    HWND bar = Item(updater, IDC_PROGRESS);
    Check(start != nullptr && WindowText(start) == "Start", "a \"Start\" button");
    Check(start != nullptr && IsWindowVisible(start) && IsWindowEnabled(start), "Start is shown and enabled");
    Check(bar != nullptr && ClassOf(bar) == "msctls_progress32", "a progress bar");
    Check(bar != nullptr && IsWindowVisible(bar), "the progress bar is shown");
    LRESULT low = SendMessageA(bar, PBM_GETRANGE, TRUE, 0);
    LRESULT high = SendMessageA(bar, PBM_GETRANGE, FALSE, 0);
    Log("     bar range %ld..%ld, position %ld", static_cast<long>(low), static_cast<long>(high),
        static_cast<long>(BarPosition(updater)));
    Check(low == 0 && high == 10000, "the bar's range is 0..10000");
    Check(BarPosition(updater) == 0, "the bar is at 0");
    for (int id : {IDC_OPEN, IDC_PATH, IDC_CHECKSUM}) {
        HWND control = Item(updater, id);
        char what[64];
        std::snprintf(what, sizeof(what), "control %d exists and is hidden", id);
        Check(control != nullptr && !IsWindowVisible(control), what);
    }
}

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

std::vector<std::string> TraceLines()
{
    std::ifstream file(Option("work") + "\\trace.txt");
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
}

int CountEvents(const std::vector<std::string>& lines, const std::string& prefix)
{
    int count = 0;
    for (const std::string& line : lines)
        if (line.compare(0, prefix.size(), prefix) == 0) ++count;
    return count;
}

void ShowTraceTail(const std::vector<std::string>& lines)
{
    std::size_t from = lines.size() > 15 ? lines.size() - 15 : 0;
    Log("     trace: %zu lines; last ones:", lines.size());
    for (std::size_t i = from; i < lines.size(); ++i) Log("       %.150s", lines[i].c_str());
}

// The flash the simulated device was left with holds the first count bytes of the image.
void CheckFlash(const char* imageOption, std::size_t count)
{
    std::vector<std::uint8_t> flash = ReadFileBytes(Option("work") + "\\flash.bin");
    std::vector<std::uint8_t> image = ReadFileBytes(Option(imageOption));
    Log("     flash %zu bytes, image %zu bytes, compared %zu", flash.size(), image.size(), count);
    bool equal = flash.size() >= count && image.size() >= count &&
                 std::memcmp(flash.data(), image.data(), count) == 0;
    if (!equal && flash.size() >= count && image.size() >= count) {
        for (std::size_t i = 0; i < count; ++i)
            if (flash[i] != image[i]) {
                Log("     first difference at %zu: flash %02x, image %02x", i, flash[i], image[i]);
                break;
            }
    }
    Check(equal, "the device's flash holds the image");
}

// ---------------------------------------------------------------------------------------------
// Scenarios.

// The shipped program with no controller: Start reports "Device error!".
void ScenarioNoDevice()
{
    Updater updater;
    if (!Launch(updater, Option("updater")) || !FindDialog(updater)) return;
    CheckControls(updater);
    PressStart(updater);
    ExpectBox(updater, "Error", "Device error!", 20000);
    Box extra;
    Check(!WaitForBox(updater, extra, 1000), "no further message box");
    Check(IsWindowEnabled(Item(updater, IDC_START)) && BarPosition(updater) == 0,
          "Start still enabled and the bar still at 0");
    CloseWithEscape(updater);
}

// A supported controller in its normal mode: Start shows nothing and starts no download.
void ScenarioNormalController()
{
    SetSimEnvironment("045e:028e", nullptr, nullptr);
    Updater updater;
    if (!Launch(updater, Option("sim")) || !FindDialog(updater)) return;
    PressStart(updater);
    Box box;
    bool anyBox = WaitForBox(updater, box, 3000);
    if (anyBox) Log("     unexpected box: \"%s\" / \"%s\"", box.caption.c_str(), box.text.c_str());
    Check(!anyBox, "Start shows no message box");
    Check(Responds(updater), "the dialog still answers");
    Check(IsWindowEnabled(Item(updater, IDC_START)) && BarPosition(updater) == 0,
          "Start still enabled and the bar still at 0");
    if (anyBox) Dismiss(updater, box);
    CloseWithEscape(updater);
    std::vector<std::string> trace = TraceLines();
    Check(CountEvents(trace, "open probe ok") >= 1, "the finder examined the controller");
    Check(CountEvents(trace, "write ") == 0 && CountEvents(trace, "set-output ") == 0,
          "nothing was sent to the controller");
    if (failures) ShowTraceTail(trace);
}

// Watches the bar until a message box appears; checks that it moved forward through
// intermediate positions while the controls were disabled.
void WatchDownload(const Updater& updater, DWORD timeoutMs, bool tryToClose)
{
    std::vector<LRESULT> positions;
    bool disabledWhileMoving = false;
    bool closeTried = false;
    LRESULT endOfSession = -1;
    Box box;
    DWORD start = GetTickCount();
    while (!FindBox(updater, box) && GetTickCount() - start < timeoutMs) {
        LRESULT position = BarPosition(updater);
        if (position >= 0 && (positions.empty() || positions.back() != position)) positions.push_back(position);
        if (position > 0 && position < 10000 && !IsWindowEnabled(Item(updater, IDC_START))) {
            disabledWhileMoving = true;
            if (tryToClose && !closeTried) {
                closeTried = true;
                PostMessageA(updater.dialog, WM_CLOSE, 0, 0);
                endOfSession = QueryEndSession(updater);
            }
        }
        Sleep(2);
    }
    int between = 0;
    bool forward = true;
    for (std::size_t i = 0; i < positions.size(); ++i) {
        if (positions[i] > 0 && positions[i] < 10000) ++between;
        if (i > 0 && positions[i] < positions[i - 1]) forward = false;
    }
    Log("     %zu bar positions seen, %d between 0 and 10000, last %ld", positions.size(), between,
        positions.empty() ? -1L : static_cast<long>(positions.back()));
    Check(between >= 3, "the bar moves through intermediate positions");
    Check(forward, "the bar only moves forward");
    Check(disabledWhileMoving, "Start is disabled while the bar moves");
    if (tryToClose) {
        Check(closeTried && IsWindow(updater.dialog), "closing is refused while the download runs");
        Check(endOfSession == 0, "the end of the session is refused while the download runs");
    }
}

void FinishDownload(Updater& updater, const char* text)
{
    Box box;
    if (!Check(WaitForBox(updater, box, 120000), "a result box appears")) return;
    Check(IsWindowEnabled(Item(updater, IDC_START)), "the controls are enabled again before the result box");
    ExpectBox(updater, "Download", text, 1000);
    Check(WaitFor([&] { return BarPosition(updater) == 0; }, 5000), "the bar goes back to 0");
    Check(IsWindowEnabled(Item(updater, IDC_START)), "Start is enabled");
    Box extra;
    Check(!WaitForBox(updater, extra, 1000), "no further message box");
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

    if (scenario == "resources") ScenarioResources();
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
