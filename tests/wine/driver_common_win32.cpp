// What every scenario of the Wine driver uses: options, checks, the updater's process, its
// dialog and message boxes, the progress bar, and the controller's flash.
#include "tests/wine/driver_common.h"

#include <commctrl.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "app/dialog_ids.h"

namespace driver {

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

Updater::~Updater()
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
    // As Windows does when the session goes on after all: a program that let it end is told so.
    if (result != 0) {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutA(updater.dialog, WM_ENDSESSION, FALSE, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000, &ignored);
    }
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

void StartWithoutController(Updater& updater)
{
    PressStart(updater);
    ExpectBox(updater, "Error", "Device error!", 20000);
    Box extra;
    Check(!WaitForBox(updater, extra, 1000), "no further message box");
    Check(IsWindowEnabled(Item(updater, IDC_START)) && BarPosition(updater) == 0,
          "Start still enabled and the bar still at 0");
    CloseWithEscape(updater);
}

void StartWithNormalController(Updater& updater)
{
    PressStart(updater);
    Box box;
    const bool anyBox = WaitForBox(updater, box, 3000);
    if (anyBox) Log("     unexpected box: \"%s\" / \"%s\"", box.caption.c_str(), box.text.c_str());
    Check(!anyBox, "Start shows no message box");
    Check(Responds(updater), "the dialog still answers");
    Check(IsWindowEnabled(Item(updater, IDC_START)) && BarPosition(updater) == 0,
          "Start still enabled and the bar still at 0");
    if (anyBox) Dismiss(updater, box);
    CloseWithEscape(updater);
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

void CheckFlashRange(const char* imageOption, std::size_t from, std::size_t to)
{
    std::vector<std::uint8_t> flash = ReadFileBytes(Option("work") + "\\flash.bin");
    std::vector<std::uint8_t> image = ReadFileBytes(Option(imageOption));
    Log("     flash %zu bytes, image %zu bytes, compared [%zu, %zu)", flash.size(), image.size(), from, to);
    bool equal = from <= to && flash.size() >= to && image.size() >= to &&
                 std::memcmp(flash.data() + from, image.data() + from, to - from) == 0;
    if (!equal && from <= to && flash.size() >= to && image.size() >= to) {
        for (std::size_t i = from; i < to; ++i)
            if (flash[i] != image[i]) {
                Log("     first difference at %zu: flash %02x, image %02x", i, flash[i], image[i]);
                break;
            }
    }
    Check(equal, "the device's flash holds the image");
}

void CheckFlash(const char* imageOption, std::size_t count) { CheckFlashRange(imageOption, 0, count); }


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

HWND KeyboardFocus(const Updater& updater)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    const DWORD thread = GetWindowThreadProcessId(updater.dialog, nullptr);
    if (thread == 0 || !GetGUIThreadInfo(thread, &info)) return nullptr;
    return info.hwndFocus;
}

void FinishDownload(Updater& updater, const char* text)
{
    Box box;
    if (!Check(WaitForBox(updater, box, 120000), "a result box appears")) return;
    Check(IsWindowEnabled(Item(updater, IDC_START)), "the controls are enabled again before the result box");
    Check(QueryEndSession(updater) == 1, "the end of the session is allowed while the result box waits");
    ExpectBox(updater, "Download", text, 1000);
    Check(WaitFor([&] { return BarPosition(updater) == 0; }, 5000), "the bar goes back to 0");
    Check(IsWindowEnabled(Item(updater, IDC_START)), "Start is enabled");
    Check(WaitFor([&] { return KeyboardFocus(updater) == Item(updater, IDC_START); }, 5000),
          "the keyboard focus is back on Start");
    Box extra;
    Check(!WaitForBox(updater, extra, 1000), "no further message box");
}

}  // namespace driver
