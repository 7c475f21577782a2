// The trace of everything that crosses the seam in the simulated world (docs/trace-format.md).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// Starts a new trace: clears the lines kept in memory and, when path is not empty, writes
// every line to that file as well (the first line is "# oskel-trace 1").
bool TraceOpen(const std::string& path = "");
void TraceClose();

// Appends one event line (without the newline).
void TraceLine(const std::string& line);

// Lowercase hexadecimal without separators; "-" for no bytes.
std::string Hex(const std::uint8_t* data, std::size_t length);

// A copy of the lines kept in memory since the last TraceOpen.
std::vector<std::string> TraceLines();

// The lines whose event (first word) is event.
std::vector<std::string> TraceEvents(const std::string& event);

}  // namespace sim
