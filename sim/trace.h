// The trace of everything that crosses the seam in the simulated world (docs/trace-format.md).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// Starts a new trace: clears the lines kept in memory and, when path is not empty, writes
// every line to that file as well (the first line is "# oskel-trace 1"). A new trace keeps
// its lines in memory.
bool TraceOpen(const std::string& path = "");

// Whether the lines of the current trace are kept in memory. Long runs that read the
// devices' own records instead (fault sweeps, soak, benchmarks) turn this off.
void TraceKeepLines(bool keep);

// True when a line would be kept or written anywhere: callers may skip building lines that
// nobody reads.
bool TraceWanted();
void TraceClose();

// Appends one event line (without the newline).
void TraceLine(const std::string& line);

// A copy of the lines kept in memory since the last TraceOpen.
std::vector<std::string> TraceLines();

// The lines whose event (first word) is event.
std::vector<std::string> TraceEvents(const std::string& event);

}  // namespace sim
