// One UTF-8 decoder for both ways of showing bytes: with a Latin-1 fallback,
// and with escapes.
#include "download/display_text.h"

#include <cstdint>
#include <cstdio>

namespace text {
namespace {

// The well-formed UTF-8 character at bytes[at] and its length in bytes;
// length 0 when none starts there (overlong forms, surrogates, values beyond
// U+10FFFF, sequences cut short, stray continuation bytes).
struct Utf8_Character {
    char32_t code_point = 0;
    std::size_t length = 0;
};

Utf8_Character Decode_At(std::string_view bytes, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
    const std::uint8_t lead = byte(at);
    if (lead < 0x80)
        return {lead, 1};
    std::size_t length = 0;
    std::uint8_t low = 0x80, high = 0xBF;  // the second byte's range
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
    if (at + length > bytes.size() || byte(at + 1) < low || byte(at + 1) > high)
        return {};
    for (std::size_t i = 2; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return {};
    }
    char32_t code_point = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i)
        code_point = (code_point << 6) | (byte(at + i) & 0x3F);
    return {code_point, length};
}

// A byte of 0x80 to 0xFF as the UTF-8 of its Latin-1 character.
void Append_Latin1(std::string& out, std::uint8_t byte) {
    out += static_cast<char>(0xC0 | (byte >> 6));
    out += static_cast<char>(0x80 | (byte & 0x3F));
}

// Characters that are well-formed but must not act on what shows them: C1
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

std::string Display_Utf8(std::string_view bytes) {
    std::string shown;
    shown.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size();) {
        const Utf8_Character character = Decode_At(bytes, at);
        if (character.length == 0) {
            Append_Latin1(shown, static_cast<std::uint8_t>(bytes[at]));
            ++at;
        } else {
            shown.append(bytes.substr(at, character.length));
            at += character.length;
        }
    }
    return shown;
}

std::string Displayable_Text(std::string_view text, Line_Breaks line_breaks) {
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto byte = static_cast<std::uint8_t>(text[at]);
        if ((byte >= 0x20 && byte < 0x7F) || (byte == '\n' && line_breaks == Line_Breaks::kKept)) {
            shown.push_back(text[at++]);
            continue;
        }
        const Utf8_Character character = Decode_At(text, at);
        if (character.length < 2) {
            Append_Escape(shown, "\\x%02x", byte);
            ++at;
        } else if (Hidden_Effect(character.code_point)) {
            Append_Escape(shown, "\\u%04x", static_cast<unsigned>(character.code_point));
            at += character.length;
        } else {
            shown.append(text.substr(at, character.length));
            at += character.length;
        }
    }
    return shown;
}

}  // namespace text
