// The escaping filter for texts from outside.
#include "download/escaped_text.h"

#include <cstdio>

namespace text {
namespace {

// The code point of the well-formed UTF-8 character of two or more bytes at
// text[at] and its length, or length 0 when there is none (overlong forms,
// surrogates, values beyond U+10FFFF, sequences cut short).
struct Utf8_Character {
    char32_t code_point = 0;
    std::size_t length = 0;
};

Utf8_Character Decode_Utf8(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        if (lead == 0xED)
            high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;
    } else {
        return {};
    }
    if (at + length > text.size())
        return {};
    if (byte(at + 1) < low || byte(at + 1) > high)
        return {};
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF)
            return {};
    }
    char32_t code_point = lead & (0xFF >> (length + 1));
    for (std::size_t i = 1; i < length; ++i)
        code_point = (code_point << 6) | (byte(at + i) & 0x3F);
    return {code_point, length};
}

// Characters that are well-formed but must not act on a terminal: C1
// controls (U+009B is an 8-bit CSI), and the ones that reorder what follows
// them or break the line where the program did not.
bool Hidden_Effect(char32_t code_point) {
    return (code_point >= 0x80 && code_point <= 0x9F) ||
           code_point == 0x061C ||                            // Arabic letter mark
           code_point == 0x200E || code_point == 0x200F ||    // left-to-right, right-to-left marks
           code_point == 0x2028 || code_point == 0x2029 ||    // line and paragraph separators
           (code_point >= 0x202A && code_point <= 0x202E) ||  // embeddings and overrides
           (code_point >= 0x2066 && code_point <= 0x2069);    // isolates
}

void Append_Escape(std::string& shown, const char* form, unsigned value) {
    char buffer[12];
    std::snprintf(buffer, sizeof buffer, form, value);
    shown += buffer;
}

}  // namespace

std::string Displayable_Text(std::string_view text, Line_Breaks line_breaks) {
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if ((byte >= 0x20 && byte < 0x7F) || (byte == '\n' && line_breaks == Line_Breaks::kKept)) {
            shown.push_back(text[at++]);
        } else if (const Utf8_Character character = Decode_Utf8(text, at); character.length != 0) {
            if (Hidden_Effect(character.code_point)) {
                Append_Escape(shown, "\\u%04x", static_cast<unsigned>(character.code_point));
            } else {
                shown.append(text.substr(at, character.length));
            }
            at += character.length;
        } else {
            Append_Escape(shown, "\\x%02x", byte);
            ++at;
        }
    }
    return shown;
}

}  // namespace text
