// Text conversions of the Linux program, whose terminal and ANSI code page are UTF-8.
#pragma once

#include <string>

namespace platform {

// A NUL-terminated text in code page 936 as UTF-8. Through iconv where the system has the code
// page; a small system (one without iconv's modules) still converts the characters of the
// program's own texts. Any other character becomes U+FFFD.
std::string Cp936ToUtf8(const char* text);

}  // namespace platform
