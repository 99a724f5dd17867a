// Builders of the terminal's texts; no output of their own.
#include "cli/text_format.h"

#include <cstdio>

namespace cli {

std::string Elapsed_Text(long long seconds) {
    if (seconds < 0)
        seconds = 0;
    const long long hours = seconds / 3600;
    const long long minutes = seconds / 60 - hours * 60;
    return std::to_string(hours) + ":" + std::to_string(minutes) + ":" +
           std::to_string(seconds % 60);
}

std::string Progress_Text(std::uint64_t done, std::uint64_t total, double elapsed_seconds) {
    if (done > total)
        done = total;
    const unsigned percent = total == 0 ? 100U : static_cast<unsigned>((done * 100) / total);
    std::string line = std::to_string(done) + "/" + std::to_string(total) + " bytes  " +
                       std::to_string(percent) + "%";
    // Below a tenth of a second the rate is noise; without bytes it is zero
    // and the time left infinite.
    if (elapsed_seconds < 0.1 || done == 0)
        return line + "  -- KiB/s  -- left";
    const double rate = static_cast<double>(done) / elapsed_seconds;
    const double left = static_cast<double>(total - done) / rate;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f", rate / 1024.0);
    return line + "  " + buffer + " KiB/s  " + Elapsed_Text(static_cast<long long>(left + 0.5)) +
           " left";
}

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

std::string Record_Text(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty() && bytes.back() == 0)
        bytes = bytes.first(bytes.size() - 1);
    return Displayable_Text(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::string Hex_Text(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (const std::uint8_t byte : bytes) {
        if (!text.empty())
            text.push_back(' ');
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
    return text;
}

}  // namespace cli
