// Small text builders of the terminal output: the progress line, the
// elapsed time, version records shown as text and as hex. Every text from
// outside the program passes Displayable_Text before it reaches a terminal.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "download/display_text.h"

namespace cli {

// The window's elapsed-time form, "h:m:s" without leading zeros (65 s: "0:1:5").
std::string Elapsed_Text(long long seconds);

// One progress line: bytes done of total, percent, transfer rate and time
// left, e.g. "131072/262144 bytes  50%  11.4 KiB/s  0:0:11 left". Rate and
// time left are "--" until some time has passed and some bytes have moved.
std::string Progress_Text(std::uint64_t done, std::uint64_t total, double elapsed_seconds);

// The one filter for every text from outside (download/display_text.h).
using text::Displayable_Text;
using text::Line_Breaks;

// A version record (or the image's version text) as text through the same
// filter; the zero bytes that pad it at the end are left out.
std::string Record_Text(std::span<const std::uint8_t> bytes);
// Bytes as two-digit upper-case hex separated by blanks.
std::string Hex_Text(std::span<const std::uint8_t> bytes);

}  // namespace cli
