// The one JSON writer: see json_text.h.
#include "station/json_text.h"

#include <cstdio>

namespace {

// The length of the well-formed UTF-8 sequence at text[at], or 0 (overlong
// forms, surrogates and code points beyond U+10FFFF are not well-formed).
std::size_t Utf8_Length(std::string_view text, std::size_t at, std::uint32_t& code_point) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code_point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code_point = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code_point = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        code_point = (code_point << 6) | (byte(at + i) & 0x3F);
    }
    if ((length == 3 && code_point < 0x800) || (length == 4 && code_point < 0x10000) ||
        (code_point >= 0xD800 && code_point <= 0xDFFF) || code_point > 0x10FFFF)
        return 0;
    return length;
}

// prefix, then value as digits lower-case hex digits.
void Append_Hex(std::string& out, std::string_view prefix, unsigned value, int digits) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += prefix;
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        out += kHex[(value >> shift) & 0xF];
}

}  // namespace

std::string Json_String(std::string_view text) {
    std::string out = "\"";
    out.reserve(text.size() + 2);
    for (std::size_t at = 0; at < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            Append_Hex(out, "\\u", c, 4);
        } else if (c >= 0x80) {
            std::uint32_t code_point = 0;
            const std::size_t length = Utf8_Length(text, at, code_point);
            if (length == 0) {
                // Not UTF-8: the byte as the terminal shows it, "\xff".
                Append_Hex(out, "\\\\x", c, 2);
                ++at;
                continue;
            }
            // C1 controls and the line and paragraph separators end lines
            // for some readers: escaped like the C0 controls.
            if (code_point < 0xA0 || code_point == 0x2028 || code_point == 0x2029)
                Append_Hex(out, "\\u", code_point, 4);
            else
                out.append(text.substr(at, length));
            at += length;
            continue;
        } else {
            out += static_cast<char>(c);
        }
        ++at;
    }
    return out + "\"";
}

std::string Json_String_Array(const std::vector<std::string>& texts) {
    std::string array = "[";
    for (const std::string& text : texts)
        array += (array.size() == 1 ? "" : ",") + Json_String(text);
    return array + "]";
}

Json_Object& Json_Object::Text(const char* name, std::string_view value) {
    Name(name);
    m_text += Json_String(value);
    return *this;
}

Json_Object& Json_Object::Number(const char* name, long long value) {
    Name(name);
    m_text += std::to_string(value);
    return *this;
}

Json_Object& Json_Object::Unsigned(const char* name, std::uint64_t value) {
    Name(name);
    m_text += std::to_string(value);
    return *this;
}

Json_Object& Json_Object::Seconds(const char* name, double value) {
    Name(name);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3f", value < 0 ? 0.0 : value);
    m_text += buffer;
    return *this;
}

Json_Object& Json_Object::Boolean(const char* name, bool value) {
    Name(name);
    m_text += value ? "true" : "false";
    return *this;
}

Json_Object& Json_Object::Raw(const char* name, const std::string& json) {
    Name(name);
    m_text += json;
    return *this;
}

void Json_Object::Name(const char* name) {
    m_text += m_text.size() == 1 ? "\"" : ",\"";
    m_text += name;
    m_text += "\":";
}
