// Protocol 1's report: framing, checksum and byte substitution.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/scramble_table.h"

inline constexpr std::size_t kScrambledReportSize = 64;
using ScrambledReport = std::uint8_t[kScrambledReportSize];

// inverse[v] = the first position p at which table[p] == v.
void InvertScrambleTable(const std::uint8_t* table, std::uint8_t* inverse);

// Frames report (header and checksum), substitutes offsets 1 to 63 in place through inverse and
// sends the 64 bytes as output report 3 on the link's transfer handle.
bool SendScrambledReport(std::uint8_t* report, const std::uint8_t* inverse);
