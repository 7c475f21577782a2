#include "codec/hex_text.h"

namespace codec {

std::string Hex(const std::uint8_t* data, std::size_t length)
{
    if (!data || length == 0) return "-";
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        text.push_back(digits[data[i] >> 4]);
        text.push_back(digits[data[i] & 0x0F]);
    }
    return text;
}

std::vector<std::uint8_t> FromHex(const std::string& text)
{
    std::vector<std::uint8_t> bytes;
    if (text == "-") return bytes;
    bytes.reserve(text.size() / 2);
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

}  // namespace codec
