// UTF-8 text for the backends whose ANSI code page is UTF-8 (Linux, the simulated world).
// Portable: no operating system in it.
#pragma once

#include <cstddef>
#include <string>

namespace codec {

void AppendUtf8(std::string& out, char32_t character);

// The UTF-8 sequence that starts at text[at]: its length, with its code point in point; 0 when it
// is not a valid one (a stray or cut-short byte, overlong, a surrogate, beyond U+10FFFF).
std::size_t DecodeUtf8At(const std::string& text, std::size_t at, char32_t& point);

// UTF-16 code units as UTF-8; a unit that is not part of a valid pair becomes U+FFFD.
std::string Utf16ToUtf8(const char16_t* text, std::size_t units);

// WideToAnsiCodePage (platform/usb.h) where the ANSI code page is UTF-8.
int WideToUtf8CodePage(const char16_t* text, char* out, int outSize);

}  // namespace codec
