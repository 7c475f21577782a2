#include "platform/linux/text.h"

#include <iconv.h>

#include <cstdint>
#include <cstring>

#include "codec/utf8_text.h"

namespace platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The code page 936 characters of the texts the program shows ("无法识别的设备", "错误"), for a
// system without iconv's CP936 module: lead byte, trail byte, character.
struct Cp936Character {
    std::uint8_t lead;
    std::uint8_t trail;
    char32_t character;
};
constexpr Cp936Character kOwnCharacters[] = {
    {0xCE, 0xDE, 0x65E0}, {0xB7, 0xA8, 0x6CD5}, {0xCA, 0xB6, 0x8BC6}, {0xB1, 0xF0, 0x522B},
    {0xB5, 0xC4, 0x7684}, {0xC9, 0xE8, 0x8BBE}, {0xB1, 0xB8, 0x5907}, {0xB4, 0xED, 0x9519},
    {0xCE, 0xF3, 0x8BEF},
};

bool ThroughIconv(const char* text, std::string& out)
{
    iconv_t converter = iconv_open("UTF-8", "CP936");
    if (converter == reinterpret_cast<iconv_t>(-1)) return false;
    std::string input(text);
    out.assign(input.size() * 3 + 1, '\0');  // a CP936 character takes at most 3 UTF-8 bytes
    char* in = input.data();
    char* to = out.data();
    std::size_t inLeft = input.size();
    std::size_t outLeft = out.size();
    const std::size_t result = iconv(converter, &in, &inLeft, &to, &outLeft);
    iconv_close(converter);
    if (result == static_cast<std::size_t>(-1)) return false;
    out.resize(out.size() - outLeft);
    return true;
}

std::string ThroughOwnCharacters(const char* text)
{
    std::string out;
    const std::size_t length = std::strlen(text);
    for (std::size_t i = 0; i < length; ++i) {
        const auto lead = static_cast<std::uint8_t>(text[i]);
        if (lead < 0x80) {
            out.push_back(static_cast<char>(lead));
            continue;
        }
        char32_t character = kReplacement;
        if (i + 1 < length) {
            const auto trail = static_cast<std::uint8_t>(text[++i]);
            for (const Cp936Character& known : kOwnCharacters) {
                if (known.lead == lead && known.trail == trail) character = known.character;
            }
        }
        codec::AppendUtf8(out, character);
    }
    return out;
}

}  // namespace

std::string Cp936ToUtf8(const char* text)
{
    if (text == nullptr) return {};
    std::string out;
    if (ThroughIconv(text, out)) return out;
    return ThroughOwnCharacters(text);
}

}  // namespace platform
