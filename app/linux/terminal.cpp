#include "app/linux/terminal.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

constexpr int kBarWidth = 40;
constexpr char kNoticePrefix[] = "oskel-update: ";
constexpr int kDefaultRangeHigh = 10000;  // the range the dialog gives its bar

struct Terminal {
    std::mutex mutex;
    bool verbose = false;
    bool barIsTerminal = isatty(STDOUT_FILENO) == 1;
    bool shown = false;
    bool barDrawn = false;  // a bar line without its newline is on the terminal
    int low = 0;
    int high = kDefaultRangeHigh;
    int percent = -1;       // the last percentage shown
    char dialog = 0;        // their addresses are the window handles
    char bar = 0;
};

Terminal& State()
{
    static Terminal terminal;
    return terminal;
}

// Ends the bar's line, so that the next line starts on its own (with the terminal held).
void EndBarLine(Terminal& t)
{
    if (!t.barDrawn) return;
    std::fputc('\n', stdout);
    std::fflush(stdout);
    t.barDrawn = false;
}

void DrawPercent(Terminal& t, int percent)
{
    if (percent == t.percent) return;
    t.percent = percent;
    if (!t.barIsTerminal) {
        std::printf("progress %d%%\n", percent);
        std::fflush(stdout);
        return;
    }
    char bar[kBarWidth + 1];
    const int filled = percent * kBarWidth / 100;
    for (int i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '.';
    bar[kBarWidth] = '\0';
    std::printf("\r[%s] %3d%%", bar, percent);
    std::fflush(stdout);
    t.barDrawn = true;
}

}  // namespace

platform::WindowHandle TerminalDialog() { return &State().dialog; }
platform::WindowHandle TerminalProgressBar() { return &State().bar; }

void TerminalSetVerbose(bool verbose)
{
    std::lock_guard<std::mutex> lock(State().mutex);
    State().verbose = verbose;
}

void TerminalShowLine(const std::string& text)
{
    Terminal& t = State();
    std::lock_guard<std::mutex> lock(t.mutex);
    EndBarLine(t);
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

void TerminalDebugLine(const char* text)
{
    Terminal& t = State();
    std::lock_guard<std::mutex> lock(t.mutex);
    if (!t.verbose || text == nullptr) return;
    EndBarLine(t);
    // Each line of the text carries the program's name, as every notice does.
    const char* line = text;
    do {
        const char* end = std::strchr(line, '\n');
        const std::size_t length = end != nullptr ? static_cast<std::size_t>(end - line) : std::strlen(line);
        std::fprintf(stderr, "%s%.*s\n", kNoticePrefix, static_cast<int>(length), line);
        line = end != nullptr ? end + 1 : nullptr;
    } while (line != nullptr && *line != '\0');
    std::fflush(stderr);
}

void TerminalNotice(const std::string& text)
{
    Terminal& t = State();
    std::lock_guard<std::mutex> lock(t.mutex);
    EndBarLine(t);
    std::fprintf(stderr, "%s%s\n", kNoticePrefix, text.c_str());
    std::fflush(stderr);
}

void TerminalProgressRange(int low, int high)
{
    Terminal& t = State();
    std::lock_guard<std::mutex> lock(t.mutex);
    t.low = low;
    t.high = high;
}

void TerminalProgressPosition(int position)
{
    Terminal& t = State();
    std::lock_guard<std::mutex> lock(t.mutex);
    if (!t.shown || t.high <= t.low) return;
    if (position < t.low) position = t.low;
    if (position > t.high) position = t.high;
    const long long done = static_cast<long long>(position - t.low) * 100 / (t.high - t.low);
    DrawPercent(t, static_cast<int>(done));
}

void TerminalProgressShown(bool shown)
{
    Terminal& t = State();
    std::lock_guard<std::mutex> lock(t.mutex);
    t.shown = shown;
    t.percent = -1;
    if (!shown) EndBarLine(t);
}

