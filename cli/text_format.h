// Small text builders of the terminal output: the progress line, the
// elapsed time, version records shown as text and as hex, and the one filter
// that every text from outside the program (the image, the phone, the
// command line, the system) passes before it reaches a terminal.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace cli {

// The window's elapsed-time form, "h:m:s" without leading zeros (65 s: "0:1:5").
std::string Elapsed_Text(long long seconds);

// One progress line: bytes done of total, percent, transfer rate and time
// left, e.g. "131072/262144 bytes  50%  11.4 KiB/s  0:0:11 left". Rate and
// time left are "--" until some time has passed and some bytes have moved.
std::string Progress_Text(std::uint64_t done, std::uint64_t total, double elapsed_seconds);

enum class Line_Breaks {
    kEscaped,  // a line feed is shown as "\x0a": the text is one line
    kKept,     // line feeds stay: the program's own lines (the time text's)
};

// Text for a terminal: printable ASCII and well-formed UTF-8 characters as
// they are. Shown as visible escapes instead: C0 controls and DEL ("\x1b"),
// C1 controls ("\u009b"), the characters that reorder or break text (bidi
// embeddings, overrides and isolates, directional marks, line and paragraph
// separators: "\u202e"), and every byte that is not part of well-formed UTF-8
// ("\xff"). No byte of the result is a control character.
std::string Displayable_Text(std::string_view text,
                             Line_Breaks line_breaks = Line_Breaks::kEscaped);
// A version record (or the image's version text) as text through the same
// filter; the zero bytes that pad it at the end are left out.
std::string Record_Text(std::span<const std::uint8_t> bytes);
// Bytes as two-digit upper-case hex separated by blanks.
std::string Hex_Text(std::span<const std::uint8_t> bytes);

}  // namespace cli
