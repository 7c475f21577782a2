// UTF-8 text for the backends whose ANSI code page is UTF-8 (Linux, the simulated world).
// Portable: no operating system in it.
#pragma once

#include <cstddef>
#include <string>

namespace codec {

void AppendUtf8(std::string& out, char32_t character);

// UTF-16 code units as UTF-8; a unit that is not part of a valid pair becomes U+FFFD.
std::string Utf16ToUtf8(const char16_t* text, std::size_t units);

// WideToAnsiCodePage (platform/usb.h) where the ANSI code page is UTF-8.
int WideToUtf8CodePage(const char16_t* text, char* out, int outSize);

}  // namespace codec
