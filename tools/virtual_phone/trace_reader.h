// Reads a trace that flashtool-cli's --trace wrote, for the replay: the
// current format ("flashtool-trace 2" on its first line) and the first one
// (no version line; it opens with "# flashtool-cli trace"), as far as it
// holds what a replay needs. The format is read here from its description,
// not from the writer's code.
//
// Header lines "# expect-exit: N" and "# expect-last-line: TEXT" hold how the
// recorded run ended, for the traces that are tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vphone {

enum class Trace_Kind {
    to_phone,
    from_phone,
    open,
    open_failed,
    close,
    lines,
    time_out,
    hang_up,
    stop,
    failure,
    note,
};

struct Trace_Record {
    std::int64_t time_us = 0;
    Trace_Kind kind = Trace_Kind::note;
    std::string operation;
    std::vector<std::uint8_t> bytes;  // to_phone and from_phone
    std::string detail;               // the other kinds
    std::size_t line = 0;             // where it starts in the file, from 1
};

struct Trace {
    int version = 0;
    std::vector<Trace_Record> records;
    std::optional<int> expect_exit;
    std::optional<std::string> expect_last_line;
};

// The trace in text, or nothing with error naming the line that is wrong.
std::optional<Trace> Parse_Trace(std::string_view text, std::string* error);

}  // namespace vphone
