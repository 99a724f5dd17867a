// Writes the trace as text, one event a line after a first line that names
// the format and its version:
//   flashtool-trace 2
//   <µs since the first open> <kind> [<operation>] <details>
// where kind is ">" (host to phone) or "<" (phone to host) with the bytes in
// hex, or open, open-failed, close, lines, time-out, hang-up, stop, failure,
// note. Records longer than 32 bytes continue on lines that start with "+"
// and the offset of their first byte, so block transfers stay readable.
// docs/traces.md describes the format; the virtual phone reads it back.
#include "cli/trace_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "cli/text_format.h"
#include "download/texts.h"

namespace cli {
namespace {
constexpr std::size_t kBytesPerLine = 32;

const char* Kind_Word(Trace_Event kind) {
    switch (kind) {
        case Trace_Event::kOpen:
            return "open";
        case Trace_Event::kOpenFailed:
            return "open-failed";
        case Trace_Event::kClose:
            return "close";
        case Trace_Event::kLines:
            return "lines";
        case Trace_Event::kTimedOut:
            return "time-out";
        case Trace_Event::kHungUp:
            return "hang-up";
        case Trace_Event::kStopped:
            return "stop";
        case Trace_Event::kFailed:
            return "failure";
        case Trace_Event::kNote:
            break;
    }
    return "note";
}
}  // namespace

std::unique_ptr<TraceFile> TraceFile::Create(const std::string& path,
                                             const std::optional<platform::File_Identity>& keep,
                                             std::string& problem) {
    std::FILE* file = platform::Open_Output_File(path, keep, problem);
    if (file == nullptr)
        return nullptr;
    return std::unique_ptr<TraceFile>(new TraceFile(file));
}

std::unique_ptr<TraceFile> TraceFile::Adopt(std::FILE* file) {
    return std::unique_ptr<TraceFile>(new TraceFile(file));
}

TraceFile::TraceFile(std::FILE* file) : m_file(file) {
    Check(std::fprintf(m_file, "flashtool-trace 2\n"));
    Check(std::fprintf(m_file, "# flashtool-cli trace, started %s", text::Time_Text_Now().c_str()));
    Check(std::fprintf(m_file,
                       "# us since the port's first open, kind (>: host to phone, <: phone to "
                       "host, or an event), [operation], bytes in hex or the event's details\n"));
}

TraceFile::~TraceFile() {
    Finish();
}

bool TraceFile::Check(int written) {
    if (written < 0 && m_problem.empty())
        m_problem = std::strerror(errno);
    return m_problem.empty();
}

void TraceFile::stamp(std::string_view kind, std::string_view operation) {
    const auto now = std::chrono::steady_clock::now();
    const long long us =
        m_start ? std::chrono::duration_cast<std::chrono::microseconds>(now - *m_start).count() : 0;
    const std::string name = operation.empty() ? std::string("-") : std::string(operation);
    Check(std::fprintf(m_file, "%12lld %-11.*s [%s]", us, static_cast<int>(kind.size()),
                       kind.data(), name.c_str()));
}

void TraceFile::bytes(std::string_view operation, Trace_Direction direction,
                      std::span<const std::uint8_t> data) {
    const std::lock_guard lock(m_lock);
    // Once a write has failed, the trace has a hole: it stops there.
    if (m_file == nullptr || !m_problem.empty())
        return;
    stamp(direction == Trace_Direction::kToPhone ? ">" : "<", operation);
    if (data.size() <= kBytesPerLine) {
        Check(std::fprintf(m_file, "%s%s\n", data.empty() ? "" : " ", Hex_Text(data).c_str()));
        return;
    }
    Check(std::fprintf(m_file, " %zu bytes\n", data.size()));
    for (std::size_t offset = 0; offset < data.size() && m_problem.empty();
         offset += kBytesPerLine) {
        const std::size_t count = std::min(kBytesPerLine, data.size() - offset);
        Check(std::fprintf(m_file, "%12s +%06zx %s\n", "", offset,
                           Hex_Text(data.subspan(offset, count)).c_str()));
    }
}

// An event may name a port: a line feed in its name forges no record.
void TraceFile::event(std::string_view operation, Trace_Event kind, std::string_view what) {
    const std::lock_guard lock(m_lock);
    if (m_file == nullptr || !m_problem.empty())
        return;
    if (kind == Trace_Event::kOpen && !m_start)
        m_start = std::chrono::steady_clock::now();
    stamp(Kind_Word(kind), operation);
    Check(std::fprintf(m_file, "%s%s\n", what.empty() ? "" : " ", Displayable_Text(what).c_str()));
}

void TraceFile::note(std::string_view what) {
    event("flashtool-cli", Trace_Event::kNote, what);
}

void TraceFile::flush() {
    if (m_file != nullptr && m_problem.empty())
        Check(std::fflush(m_file));
}

std::string TraceFile::Finish() {
    const std::lock_guard lock(m_lock);
    if (m_file == nullptr)
        return m_problem;
    flush();
    // Closing writes the last buffered bytes: a full disk may only show here.
    const bool closed = std::fclose(m_file) == 0;
    if (!closed && m_problem.empty())
        m_problem = std::strerror(errno);
    m_file = nullptr;
    return m_problem;
}

}  // namespace cli
