#include "protocol/scrambled_report.h"

// Placeholder until protocol 1's framing lands: an identity table, and no report is sent.
const std::uint8_t ScrambleTable[256] = {};

void InvertScrambleTable(const std::uint8_t* table, std::uint8_t* inverse)
{
    for (int v = 0; v < 256; ++v) inverse[v] = table[v];
}

bool SendScrambledReport(std::uint8_t*, const std::uint8_t*) { return false; }
