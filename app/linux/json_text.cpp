#include "app/linux/json_text.h"

#include <cstdio>

#include "codec/utf8_text.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

}  // namespace

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (std::size_t at = 0; at < text.size();) {
        char32_t point = 0;
        const std::size_t length = codec::DecodeUtf8At(text, at, point);
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
