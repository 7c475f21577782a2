// What every scenario of the Wine driver uses: the options it was given, checks that count
// failures, the updater's process, its dialog and message boxes, the progress bar, and the
// files a controller leaves (flash, trace). Paths may be given as Unix paths; they are reached
// through Wine's Z: drive.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace driver {

inline const char* const kDialogTitle = "Oskel_Controller_UPDATE_V1.2";
inline constexpr int kFailExit = 1;

extern std::map<std::string, std::string> options;  // --name value, without the dashes
extern int failures;

void Log(const char* format, ...);
// Logs "ok" or "FAIL" with what; counts a failure.
bool Check(bool condition, const char* what);

std::string WindowsPath(std::string path);
// The option's value as a Windows path.
std::string Option(const char* name);
std::vector<std::uint8_t> ReadFileBytes(const std::string& path);
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs);
std::string WindowText(HWND window);  // UTF-8
std::string ClassOf(HWND window);

// The updater process and its dialog; a process still running when this goes is ended.
struct Updater {
    PROCESS_INFORMATION process{};
    HWND dialog = nullptr;

    Updater() = default;
    Updater(const Updater&) = delete;
    Updater& operator=(const Updater&) = delete;
    ~Updater();
};

bool Launch(Updater& updater, const std::string& program);
// Top-level dialog windows of the updater process with this title (all when title is null).
std::vector<HWND> ProcessDialogs(const Updater& updater, const char* title);
bool FindDialog(Updater& updater);

struct Box {
    HWND window = nullptr;
    std::string caption;
    std::string text;
};

std::string BoxText(HWND box);
// Any message box of the updater (a dialog window other than the main dialog).
bool FindBox(const Updater& updater, Box& box);
bool WaitForBox(const Updater& updater, Box& box, DWORD timeoutMs);
// Presses the box's OK button and waits until the box is gone.
bool Dismiss(const Updater& updater, const Box& box);
bool ExpectBox(const Updater& updater, const char* caption, const char* text, DWORD timeoutMs);

HWND Item(const Updater& updater, int id);
LRESULT BarPosition(const Updater& updater);  // -1 when the bar does not answer
bool Responds(const Updater& updater);
// The window that has the keyboard focus on the dialog's thread (null when none has it).
HWND KeyboardFocus(const Updater& updater);
// Asks the dialog, as the system does at shutdown or log-off, whether the session may end.
// 1: it may; 0: refused; -1: no answer. When it may, the session then goes on (WM_ENDSESSION with
// FALSE), as when another program refuses the end.
LRESULT QueryEndSession(const Updater& updater);
void PressStart(const Updater& updater);
bool Exited(const Updater& updater, DWORD timeoutMs);
// Escape, as the user presses it in the dialog; checks that the program ends with exit code 1.
void CloseWithEscape(Updater& updater);
// The dialog's controls as it opens: Start enabled, the bar at 0 on 0..10000, the rest hidden.
void CheckControls(const Updater& updater);
// Start with no controller present: one "Device error!" box and nothing else changes; then the
// dialog is closed with Escape.
void StartWithoutController(Updater& updater);
// Start with a supported controller in its normal mode: no box, the dialog answering, Start
// enabled and the bar at 0; then the dialog is closed with Escape.
void StartWithNormalController(Updater& updater);

// The debugger output of the programs the driver starts (OutputDebugString), from the call on:
// start listening before the program whose lines are wanted is launched. (Wine also shows the
// lines in the test's output, with WINEDEBUG's debugstr channel.)
bool ListenToDebugOutput();
// Whether one of the updater's debugger lines contains part.
bool WroteDebugLine(const Updater& updater, const std::string& part);

// The trace a controller left in the work folder (trace.txt).
std::vector<std::string> TraceLines();
int CountEvents(const std::vector<std::string>& lines, const std::string& prefix);
void ShowTraceTail(const std::vector<std::string>& lines);
// The flash the controller was left with (flash.bin in the work folder) holds the image's bytes
// [from, to).
void CheckFlashRange(const char* imageOption, std::size_t from, std::size_t to);
void CheckFlash(const char* imageOption, std::size_t count);

// Watches the bar until a message box appears; checks that it moved forward through
// intermediate positions while the controls were disabled, and, with tryToClose, that closing
// the dialog and ending the session are refused meanwhile.
void WatchDownload(const Updater& updater, DWORD timeoutMs, bool tryToClose);
// The result box of a download: controls enabled and the end of the session allowed while it
// waits, the expected text, the bar back at 0.
void FinishDownload(Updater& updater, const char* text);

}  // namespace driver
