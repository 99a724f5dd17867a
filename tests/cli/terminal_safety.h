// What a terminal must never receive from flashtool-cli: where the first
// byte sequence that would act on the terminal instead of being shown lies.
// Written from the terminals' side (which bytes they act on), independently
// of the program's filter.
#pragma once

#include <string>
#include <string_view>

// npos when text holds no C0 control but the line feed, no DEL, no C1
// control in UTF-8 (C2 80 to C2 9F) and none of the characters that reorder
// or break text (U+061C, U+200E, U+200F, U+2028 to U+202E, U+2066 to U+2069).
inline std::size_t Raw_Control_At(std::string_view text) {
    const auto at = [&](std::size_t i) {
        return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned byte = at(i);
        if ((byte < 0x20 && byte != '\n') || byte == 0x7F)
            return i;
        if (byte == 0xC2 && at(i + 1) >= 0x80 && at(i + 1) <= 0x9F)
            return i;
        if (byte == 0xD8 && at(i + 1) == 0x9C)
            return i;
        if (byte == 0xE2 && at(i + 1) == 0x80 &&
            (at(i + 2) == 0x8E || at(i + 2) == 0x8F || (at(i + 2) >= 0xA8 && at(i + 2) <= 0xAE)))
            return i;
        if (byte == 0xE2 && at(i + 1) == 0x81 && at(i + 2) >= 0xA6 && at(i + 2) <= 0xA9)
            return i;
    }
    return std::string_view::npos;
}
