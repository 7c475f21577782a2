// Bytes as lowercase hexadecimal text without separators, and back: the form of the trace's
// report bytes (docs/trace-format.md) and of the capture check's notes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace codec {

// "-" for no bytes.
std::string Hex(const std::uint8_t* data, std::size_t length);

// The bytes of a text that Hex wrote; "-" gives none. A text of odd length loses its last digit.
std::vector<std::uint8_t> FromHex(const std::string& text);

}  // namespace codec
