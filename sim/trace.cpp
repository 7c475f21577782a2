#include "sim/trace.h"

#include <cstdio>
#include <mutex>

namespace sim {
namespace {

std::mutex traceMutex;
std::vector<std::string> traceLines;
std::FILE* traceFile = nullptr;

}  // namespace

bool TraceOpen(const std::string& path)
{
    std::lock_guard<std::mutex> lock(traceMutex);
    traceLines.clear();
    if (traceFile) {
        std::fclose(traceFile);
        traceFile = nullptr;
    }
    if (!path.empty()) {
        traceFile = std::fopen(path.c_str(), "wb");
        if (!traceFile) return false;
        std::fputs("# oskel-trace 1\n", traceFile);
    }
    return true;
}

void TraceClose()
{
    std::lock_guard<std::mutex> lock(traceMutex);
    if (traceFile) {
        std::fclose(traceFile);
        traceFile = nullptr;
    }
}

void TraceLine(const std::string& line)
{
    std::lock_guard<std::mutex> lock(traceMutex);
    traceLines.push_back(line);
    if (traceFile) {
        std::fputs(line.c_str(), traceFile);
        std::fputc('\n', traceFile);
        std::fflush(traceFile);
    }
}

std::string Hex(const std::uint8_t* data, std::size_t length)
{
    if (!data || length == 0) return "-";
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        text.push_back(digits[data[i] >> 4]);
        text.push_back(digits[data[i] & 0x0F]);
    }
    return text;
}

std::vector<std::string> TraceLines()
{
    std::lock_guard<std::mutex> lock(traceMutex);
    return traceLines;
}

std::vector<std::string> TraceEvents(const std::string& event)
{
    std::lock_guard<std::mutex> lock(traceMutex);
    std::vector<std::string> matching;
    for (const std::string& line : traceLines) {
        if (line.compare(0, event.size(), event) == 0 &&
            (line.size() == event.size() || line[event.size()] == ' ')) {
            matching.push_back(line);
        }
    }
    return matching;
}

}  // namespace sim
