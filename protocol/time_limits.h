// Time limits of single device operations. A device that stops answering must never hold the
// worker: an operation that runs out of time counts as refused.
#pragma once

#include <cstdint>

inline constexpr std::uint32_t kReportWriteLimitMs = 5000;   // one output report
inline constexpr std::uint32_t kReplyReadLimitMs = 5000;     // one input report or reply
inline constexpr std::uint32_t kEraseReplyLimitMs = 30000;   // a reply that may cover a flash erase
