// UTF-8 and UTF-16 conversions through MultiByteToWideChar and
// WideCharToMultiByte.
#include "winapp/wide_text.h"

#include <windows.h>

#include <cstdint>

namespace {

// Length of the UTF-8 sequence that lead starts, 0 if lead cannot start one.
std::size_t Sequence_Length(std::uint8_t lead) {
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

bool Is_Continuation(char byte) {
    return (static_cast<std::uint8_t>(byte) & 0xC0) == 0x80;
}

// The UTF-16 of one whole UTF-8 sequence, or empty when the system refuses
// it (an overlong form or a surrogate).
std::wstring Decode_Strict(std::string_view sequence) {
    wchar_t units[2];
    const int count = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, sequence.data(),
                                          static_cast<int>(sequence.size()), units, 2);
    return count > 0 ? std::wstring(units, static_cast<std::size_t>(count)) : std::wstring();
}

}  // namespace

std::wstring Wide(std::string_view utf8) {
    if (utf8.empty())
        return {};
    const int size = static_cast<int>(utf8.size());
    const int count = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(count), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), count);
    return wide;
}

std::string Utf8(std::wstring_view wide) {
    if (wide.empty())
        return {};
    const int size = static_cast<int>(wide.size());
    const int count =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(count), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), count, nullptr, nullptr);
    return utf8;
}

std::wstring Display_Text(std::string_view bytes, Incomplete_Tail tail) {
    std::wstring shown;
    shown.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<std::uint8_t>(bytes[i]);
        const std::size_t length = Sequence_Length(lead);
        if (length == 1) {
            shown += static_cast<wchar_t>(lead);
            ++i;
            continue;
        }
        std::size_t have = 1;
        while (have < length && i + have < bytes.size() && Is_Continuation(bytes[i + have]))
            ++have;
        if (length != 0 && have == length) {
            const std::wstring decoded = Decode_Strict(bytes.substr(i, length));
            if (!decoded.empty()) {
                shown += decoded;
                i += length;
                continue;
            }
        } else if (tail == Incomplete_Tail::kHold && length != 0 && i + have == bytes.size()) {
            break;  // the rest of this character has not been appended yet
        }
        shown += static_cast<wchar_t>(lead);  // Latin-1
        ++i;
    }
    return shown;
}

std::wstring With_Crlf(std::wstring_view text) {
    std::wstring result;
    result.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r'))
            result += L'\r';
        result += text[i];
    }
    return result;
}

std::wstring Without_Line_Breaks(std::wstring_view text) {
    std::wstring result;
    result.reserve(text.size());
    for (const wchar_t c : text) {
        if (c != L'\r' && c != L'\n')
            result += c;
    }
    return result;
}
