// UTF-8 decoding with a Latin-1 fallback for stray bytes.
#include "download/display_text.h"

#include <cstdint>

namespace text {
namespace {

struct Sequence {
    std::size_t length = 0;  // bytes a whole character takes; 0: lead starts none
    std::uint8_t second_low = 0x80, second_high = 0xBF;  // the second byte's range
};

// What lead promises. The second byte's range shuts out overlong forms,
// surrogates and code points beyond U+10FFFF.
Sequence Sequence_Of(std::uint8_t lead) {
    if (lead < 0x80)
        return {1};
    if (lead >= 0xC2 && lead <= 0xDF)
        return {2};
    if (lead == 0xE0)
        return {3, 0xA0, 0xBF};
    if (lead == 0xED)
        return {3, 0x80, 0x9F};
    if (lead >= 0xE1 && lead <= 0xEF)
        return {3};
    if (lead == 0xF0)
        return {4, 0x90, 0xBF};
    if (lead == 0xF4)
        return {4, 0x80, 0x8F};
    if (lead >= 0xF1 && lead <= 0xF3)
        return {4};
    return {};
}

}  // namespace

std::u32string Display_Characters(std::string_view bytes, Incomplete_Tail tail) {
    std::u32string shown;
    shown.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<std::uint8_t>(bytes[i]);
        const Sequence sequence = Sequence_Of(lead);
        if (sequence.length == 1) {
            shown += static_cast<char32_t>(lead);
            ++i;
            continue;
        }
        // How many of the promised bytes are there and fit.
        std::size_t have = 1;
        while (have < sequence.length && i + have < bytes.size()) {
            const auto next = static_cast<std::uint8_t>(bytes[i + have]);
            const bool fits = have == 1
                                  ? next >= sequence.second_low && next <= sequence.second_high
                                  : (next & 0xC0) == 0x80;
            if (!fits)
                break;
            ++have;
        }
        if (sequence.length != 0 && have == sequence.length) {
            char32_t code = lead & (0x7F >> sequence.length);
            for (std::size_t k = 1; k < sequence.length; ++k)
                code = (code << 6) | (static_cast<std::uint8_t>(bytes[i + k]) & 0x3F);
            shown += code;
            i += sequence.length;
            continue;
        }
        if (tail == Incomplete_Tail::kHold && sequence.length != 0 && i + have == bytes.size())
            break;  // the rest of this character has not been appended yet
        shown += static_cast<char32_t>(lead);  // Latin-1
        ++i;
    }
    return shown;
}

}  // namespace text
