// Protocol 1's report: framing, checksum and byte substitution.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kScrambledReportSize = 64;
using ScrambledReport = std::uint8_t[kScrambledReportSize];

// The substitution table, a permutation of 0..255. A receiver recovers each byte at offsets
// 1 to 63 by indexing this table with the received byte.
extern const std::uint8_t ScrambleTable[256];

// inverse[v] = the first position p at which table[p] == v.
void InvertScrambleTable(const std::uint8_t* table, std::uint8_t* inverse);

// Frames report (header and checksum), substitutes offsets 1 to 63 in place through inverse and
// sends the 64 bytes as output report 3 on the link's transfer handle.
bool SendScrambledReport(std::uint8_t* report, const std::uint8_t* inverse);
