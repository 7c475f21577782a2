// Protocol 1's report on its way out: sealed (protocol/protocol1_reports.h), substituted and sent.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/outcome.h"
#include "protocol/protocol1_reports.h"
#include "protocol/scramble_table.h"

inline constexpr std::size_t kScrambledReportSize = protocol1::kReportSize;
using ScrambledReport = std::uint8_t[kScrambledReportSize];

// inverse[v] = the first position p at which table[p] == v.
void InvertScrambleTable(const std::uint8_t* table, std::uint8_t* inverse);

// Seals report (report id, header and checksum), substitutes every byte after the report id in
// place through inverse and sends the 64 bytes as output report 3 on the link's transfer handle;
// how the set-output request ended.
platform::Outcome SendScrambledReport(std::uint8_t* report, const std::uint8_t* inverse);
