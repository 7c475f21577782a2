#include "app/linux/json_text.h"

#include <cstdio>

#include "codec/utf8_text.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The length of the UTF-8 sequence at text[at] and its code point; 0 when it is not a valid
// sequence (overlong, a surrogate, beyond U+10FFFF or cut short).
std::size_t Utf8Sequence(const std::string& text, std::size_t at, char32_t& point)
{
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    char32_t smallest = 0;
    if (lead < 0x80) {
        point = lead;
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        point = lead & 0x1F;
        smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        point = lead & 0x0F;
        smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        point = lead & 0x07;
        smallest = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - at < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        point = point << 6 | (byte(at + i) & 0x3F);
    }
    if (point < smallest || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return 0;
    return length;
}

}  // namespace

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (std::size_t at = 0; at < text.size();) {
        char32_t point = 0;
        const std::size_t length = Utf8Sequence(text, at, point);
        if (length == 0) {
            codec::AppendUtf8(out, kReplacement);
            ++at;
            continue;
        }
        at += length;
        if (point == '"' || point == '\\') {
            out += '\\';
            out += static_cast<char>(point);
        } else if (point < 0x20 || point == 0x7F || point == 0x2028 || point == 0x2029) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(point));
            out += escape;
        } else {
            codec::AppendUtf8(out, point);
        }
    }
    return out + "\"";
}
