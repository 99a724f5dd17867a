// Byte text to Qt text: the shared decoding, as UTF-16.
#include "app/display_text.h"

QString Display_Text(std::string_view bytes, Incomplete_Tail tail) {
    const std::u32string characters = text::Display_Characters(bytes, tail);
    return QString::fromUcs4(characters.data(), static_cast<qsizetype>(characters.size()));
}
