// UTF-8 and UTF-16 conversions of the simulated world, whose ANSI code page is UTF-8.
#pragma once

#include <string>

namespace sim {

// Malformed UTF-8 becomes U+FFFD.
std::u16string Utf8ToUtf16(const std::string& utf8);

// An unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const char16_t* text, std::size_t units);

}  // namespace sim
