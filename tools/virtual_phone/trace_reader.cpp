// The two trace formats. Version 2: "<us> <kind> [<operation>] <details>";
// version 1: "<ms.fff> <operation> >phone|<phone|-- <details>", with the byte
// count before the bytes. Both continue a long record on lines that start
// with "+" and the offset of their first byte.
#include "tools/virtual_phone/trace_reader.h"

#include <cstdlib>
#include <sstream>

namespace vphone {
namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\r' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// The first word of text, taken off it.
std::string_view Take_Word(std::string_view& text) {
    text = Trim(text);
    const std::size_t end = std::min(text.find(' '), text.size());
    const std::string_view word = text.substr(0, end);
    text.remove_prefix(end);
    text = Trim(text);
    return word;
}

bool Append_Hex(std::string_view text, std::vector<std::uint8_t>& bytes) {
    for (std::string_view rest = text; !Trim(rest).empty();) {
        const std::string_view word = Take_Word(rest);
        if (word.size() != 2)
            return false;
        char pair[3] = {word[0], word[1], 0};
        char* end = nullptr;
        const unsigned long value = std::strtoul(pair, &end, 16);
        if (end != pair + 2)
            return false;
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return true;
}

std::optional<Trace_Kind> Kind_From_Word(std::string_view word) {
    static constexpr std::pair<std::string_view, Trace_Kind> kWords[] = {
        {">", Trace_Kind::to_phone},        {"<", Trace_Kind::from_phone},
        {"open", Trace_Kind::open},         {"open-failed", Trace_Kind::open_failed},
        {"close", Trace_Kind::close},       {"lines", Trace_Kind::lines},
        {"time-out", Trace_Kind::time_out}, {"hang-up", Trace_Kind::hang_up},
        {"stop", Trace_Kind::stop},         {"failure", Trace_Kind::failure},
        {"note", Trace_Kind::note},
    };
    for (const auto& [text, kind] : kWords) {
        if (word == text)
            return kind;
    }
    return std::nullopt;
}

// A version 1 event: "open PORT", "open PORT failed", "close", "read of N
// bytes ended short after M (hang-up)", or a note of the tool's own.
void Classify_Version_1_Event(Trace_Record& record) {
    const std::string& what = record.detail;
    auto ends_with = [&](std::string_view tail) {
        return what.size() >= tail.size() &&
               what.compare(what.size() - tail.size(), tail.size(), tail) == 0;
    };
    if (record.operation == "flashtool-cli") {
        record.kind = Trace_Kind::note;
    } else if (what.rfind("open ", 0) == 0 && ends_with(" failed")) {
        record.kind = Trace_Kind::open_failed;
        record.detail = what.substr(5, what.size() - 5 - 7);
    } else if (what.rfind("open ", 0) == 0) {
        record.kind = Trace_Kind::open;
        record.detail = what.substr(5);
    } else if (what == "close") {
        record.kind = Trace_Kind::close;
        record.detail.clear();
    } else if (ends_with("(hang-up)")) {
        record.kind = Trace_Kind::hang_up;
    } else if (ends_with("(time-out)")) {
        record.kind = Trace_Kind::time_out;
    } else if (ends_with("(stop)")) {
        record.kind = Trace_Kind::stop;
    } else if (ends_with("(failure)")) {
        record.kind = Trace_Kind::failure;
    } else {
        record.kind = Trace_Kind::note;
    }
}

bool Parse_Version_2(std::string_view line, Trace_Record& record) {
    std::string_view rest = line;
    const std::string time = std::string(Take_Word(rest));
    char* end = nullptr;
    record.time_us = std::strtoll(time.c_str(), &end, 10);
    if (time.empty() || *end != '\0')
        return false;
    const auto kind = Kind_From_Word(Take_Word(rest));
    if (!kind || rest.empty() || rest.front() != '[')
        return false;
    record.kind = *kind;
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos)
        return false;
    record.operation = std::string(rest.substr(1, close - 1));
    rest = Trim(rest.substr(close + 1));
    if (record.kind != Trace_Kind::to_phone && record.kind != Trace_Kind::from_phone) {
        record.detail = std::string(rest);
        return true;
    }
    // "N bytes" announces continuation lines; otherwise the bytes follow.
    if (rest.find("bytes") != std::string_view::npos)
        return true;
    return Append_Hex(rest, record.bytes);
}

bool Parse_Version_1(std::string_view line, Trace_Record& record) {
    std::string_view rest = line;
    const std::string time = std::string(Take_Word(rest));
    char* end = nullptr;
    const double ms = std::strtod(time.c_str(), &end);
    if (time.empty() || *end != '\0')
        return false;
    record.time_us = static_cast<std::int64_t>(ms * 1000.0 + 0.5);
    record.operation = std::string(Take_Word(rest));
    if (record.operation == "-")
        record.operation.clear();
    const std::string_view direction = Take_Word(rest);
    if (direction == "--") {
        record.detail = std::string(rest);
        Classify_Version_1_Event(record);
        return true;
    }
    if (direction != ">phone" && direction != "<phone")
        return false;
    record.kind = direction == ">phone" ? Trace_Kind::to_phone : Trace_Kind::from_phone;
    Take_Word(rest);  // the count: the bytes, here or on the lines that follow, say it again
    return Append_Hex(rest, record.bytes);
}

// "# expect-exit: 3", "# expect-last-line: ..."
void Read_Header(std::string_view line, Trace& trace) {
    constexpr std::string_view kExit = "# expect-exit:";
    constexpr std::string_view kLast = "# expect-last-line:";
    if (line.rfind(kExit, 0) == 0)
        trace.expect_exit = std::atoi(std::string(Trim(line.substr(kExit.size()))).c_str());
    else if (line.rfind(kLast, 0) == 0)
        trace.expect_last_line = std::string(Trim(line.substr(kLast.size())));
}

}  // namespace

std::optional<Trace> Parse_Trace(std::string_view text, std::string* error) {
    Trace trace;
    std::istringstream lines{std::string(text)};
    std::string line;
    std::size_t number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string_view trimmed = Trim(line);
        if (number == 1) {
            if (trimmed == "flashtool-trace 2") {
                trace.version = 2;
                continue;
            }
            if (trimmed.rfind("# flashtool-cli trace", 0) == 0) {
                trace.version = 1;
                continue;
            }
            *error = "line 1: not a flashtool trace (\"flashtool-trace 2\" or a version 1 trace)";
            return std::nullopt;
        }
        if (trimmed.empty())
            continue;
        if (trimmed.front() == '#') {
            Read_Header(trimmed, trace);
            continue;
        }
        if (trimmed.front() == '+') {
            std::string_view rest = trimmed;
            Take_Word(rest);  // the offset
            if (trace.records.empty() || !Append_Hex(rest, trace.records.back().bytes)) {
                *error = "line " + std::to_string(number) +
                         ": a continuation that continues "
                         "no record";
                return std::nullopt;
            }
            continue;
        }
        Trace_Record record;
        record.line = number;
        const bool ok = trace.version == 2 ? Parse_Version_2(trimmed, record)
                                           : Parse_Version_1(trimmed, record);
        if (!ok) {
            *error = "line " + std::to_string(number) + ": not a trace record";
            return std::nullopt;
        }
        trace.records.push_back(std::move(record));
    }
    if (trace.version == 0) {
        *error = "empty file";
        return std::nullopt;
    }
    return trace;
}

}  // namespace vphone
