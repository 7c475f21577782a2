#include "sim/usb_text.h"

#include <cstdint>

#include "codec/utf8_text.h"

namespace sim {

namespace {

void AppendUtf16(std::u16string& out, char32_t c)
{
    if (c >= 0x10000) {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(c));
    }
}

}  // namespace

std::u16string Utf8ToUtf16(const std::string& utf8)
{
    std::u16string out;
    std::size_t i = 0;
    while (i < utf8.size()) {
        char32_t c = 0;
        const std::size_t length = codec::DecodeUtf8At(utf8, i, c);
        if (length == 0) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        AppendUtf16(out, c);
        i += length;
    }
    return out;
}

std::string Utf16ToUtf8(const char16_t* text, std::size_t units)
{
    return codec::Utf16ToUtf8(text, units);
}

}  // namespace sim
