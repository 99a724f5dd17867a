// Byte text to screen text: UTF-8 with a Latin-1 fallback for stray bytes.
#include "app/display_text.h"

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

bool Is_Continuation(std::uint8_t byte) {
    return (byte & 0xC0) == 0x80;
}

}  // namespace

QString Display_Text(std::string_view bytes, Incomplete_Tail tail) {
    QString shown;
    shown.reserve(static_cast<qsizetype>(bytes.size()));
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<std::uint8_t>(bytes[i]);
        const std::size_t length = Sequence_Length(lead);
        if (length == 1) {
            shown += QChar(lead);
            ++i;
            continue;
        }
        std::size_t have = 1;
        while (have < length && i + have < bytes.size() &&
               Is_Continuation(static_cast<std::uint8_t>(bytes[i + have]))) {
            ++have;
        }
        if (length != 0 && have == length) {
            const QString decoded =
                QString::fromUtf8(bytes.data() + i, static_cast<qsizetype>(length));
            // fromUtf8 refuses overlong forms and surrogates with U+FFFD; show
            // those bytes one by one like any other stray byte.
            if (!decoded.contains(QChar::ReplacementCharacter)) {
                shown += decoded;
                i += length;
                continue;
            }
        } else if (tail == Incomplete_Tail::kHold && length != 0 && i + have == bytes.size()) {
            break;  // the rest of this character has not been appended yet
        }
        shown += QChar(lead);  // Latin-1
        ++i;
    }
    return shown;
}
