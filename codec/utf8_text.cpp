#include "codec/utf8_text.h"

#include <cstring>

namespace codec {

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::size_t DecodeUtf8At(const std::string& text, std::size_t at, char32_t& point)
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

std::string Utf16ToUtf8(const char16_t* text, std::size_t units)
{
    std::string out;
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            AppendUtf8(out, 0xFFFD);
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

int WideToUtf8CodePage(const char16_t* text, char* out, int outSize)
{
    if (text == nullptr || outSize < 0) return 0;
    std::size_t units = 0;
    while (text[units] != 0) ++units;
    const std::string converted = Utf16ToUtf8(text, units);
    const std::size_t needed = converted.size() + 1;
    if (needed > 0x7FFFFFFF) return 0;
    if (outSize == 0) return static_cast<int>(needed);
    if (out == nullptr || static_cast<std::size_t>(outSize) < needed) return 0;
    std::memcpy(out, converted.c_str(), needed);
    return static_cast<int>(needed);
}

}  // namespace codec
