// How byte texts become the characters a window or a terminal shows, for
// every front end alike.
#pragma once

#include <string>
#include <string_view>

namespace text {

// The characters of a text as valid UTF-8, for a toolkit that takes UTF-8:
// well-formed UTF-8 as it is, and a byte that does not start or continue a
// valid UTF-8 sequence (overlong forms and surrogates included) as its
// Latin-1 character. The program's own texts are UTF-8; a stray byte still
// shows.
std::string Display_Utf8(std::string_view bytes);

enum class Line_Breaks {
    kEscaped,  // a line feed is shown as "\x0a": the text is one line
    kKept,     // line feeds stay: the program's own lines (the time text's)
};

// A text from outside the program (the image, the phone, the command line,
// the system) as it may be shown: printable ASCII and well-formed UTF-8
// characters as they are. Shown as visible escapes instead: C0 controls and
// DEL ("\x1b"), C1 controls ("\u009b"), the characters that reorder or break
// text (bidi embeddings, overrides and isolates, directional marks, line and
// paragraph separators: "\u202e"), and every byte that is not part of
// well-formed UTF-8 ("\xff"). No byte of the result is a control character,
// and the result is valid UTF-8.
std::string Displayable_Text(std::string_view text,
                             Line_Breaks line_breaks = Line_Breaks::kEscaped);

}  // namespace text
