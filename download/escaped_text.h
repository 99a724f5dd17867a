// The one filter that every text from outside the program (the image, the
// phone, the command line, the system: version texts, paths, port names)
// passes before it reaches the user, in the windows' message area and on the
// terminal alike. It is applied where a message is built, so that every
// front end shows the same escapes.
#pragma once

#include <string>
#include <string_view>

namespace text {

enum class Line_Breaks {
    kEscaped,  // a line feed is shown as "\x0a": the text is one line
    kKept,     // line feeds stay: the program's own lines (the time text's)
};

// Printable ASCII and well-formed UTF-8 characters as they are. Shown as
// visible escapes instead: C0 controls and DEL ("\x1b"), C1 controls
// ("\u009b"), the characters that reorder or break text (bidi embeddings,
// overrides and isolates, directional marks, line and paragraph separators:
// "\u202e"), and every byte that is not part of well-formed UTF-8 ("\xff").
// No byte of the result is a control character, and the result passes the
// filter unchanged.
std::string Displayable_Text(std::string_view text,
                             Line_Breaks line_breaks = Line_Breaks::kEscaped);

}  // namespace text
