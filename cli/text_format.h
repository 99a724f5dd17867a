// Small text builders of the terminal output: the progress line, the
// elapsed time, and version records shown as text and as hex.
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

// Bytes as text: printable ASCII as it is, every other byte as '.'.
std::string Printable_Text(std::span<const std::uint8_t> bytes);
// Text for a terminal: printable ASCII and well-formed UTF-8 characters as
// they are, every other byte (controls, stray or erased 0xFF bytes) as '.'.
std::string Displayable_Text(std::string_view text);
// Bytes as two-digit upper-case hex separated by blanks.
std::string Hex_Text(std::span<const std::uint8_t> bytes);

}  // namespace cli
