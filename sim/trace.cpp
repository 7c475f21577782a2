#include "sim/trace.h"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace sim {
namespace {

std::mutex traceMutex;
std::vector<std::string> traceLines;
std::FILE* traceFile = nullptr;
bool keepLines = true;
std::atomic<bool> wanted{true};

// Caller holds traceMutex.
void UpdateWanted() { wanted = keepLines || traceFile != nullptr; }

}  // namespace

bool TraceOpen(const std::string& path)
{
    std::lock_guard<std::mutex> lock(traceMutex);
    traceLines.clear();
    keepLines = true;
    if (traceFile) {
        std::fclose(traceFile);
        traceFile = nullptr;
    }
    if (!path.empty()) {
        traceFile = std::fopen(path.c_str(), "wb");
        if (traceFile) std::fputs("# oskel-trace 1\n", traceFile);
    }
    UpdateWanted();
    return path.empty() || traceFile != nullptr;
}

void TraceKeepLines(bool keep)
{
    std::lock_guard<std::mutex> lock(traceMutex);
    keepLines = keep;
    if (!keep) std::vector<std::string>().swap(traceLines);
    UpdateWanted();
}

bool TraceWanted() { return wanted; }

void TraceClose()
{
    std::lock_guard<std::mutex> lock(traceMutex);
    if (traceFile) {
        std::fclose(traceFile);
        traceFile = nullptr;
    }
    UpdateWanted();
}

void TraceLine(const std::string& line)
{
    std::lock_guard<std::mutex> lock(traceMutex);
    if (keepLines) traceLines.push_back(line);
    if (traceFile) {
        std::fputs(line.c_str(), traceFile);
        std::fputc('\n', traceFile);
        std::fflush(traceFile);
    }
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
