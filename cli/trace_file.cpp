// Writes the trace as plain text:
//   <ms since start> <operation> <direction> <count> <hex bytes>
// Records longer than 32 bytes continue on indented lines that start with
// the offset of their first byte, so block transfers stay readable.
#include "cli/trace_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "cli/text_format.h"
#include "download/texts.h"

namespace cli {
namespace {
constexpr std::size_t kBytesPerLine = 32;
}

std::unique_ptr<TraceFile> TraceFile::Create(const std::string& path,
                                             const std::optional<platform::File_Identity>& keep,
                                             std::string& problem) {
    std::FILE* file = platform::Open_Output_File(path, keep, problem);
    if (file == nullptr)
        return nullptr;
    return std::unique_ptr<TraceFile>(new TraceFile(file));
}

TraceFile::TraceFile(std::FILE* file) : m_file(file), m_start(std::chrono::steady_clock::now()) {
    Check(std::fprintf(m_file, "# flashtool-cli trace, started %s", text::Time_Text_Now().c_str()));
    Check(std::fprintf(m_file,
                       "# ms since start, operation, direction (>phone: host to phone, <phone: "
                       "phone to host, --: event), byte count, bytes in hex\n"));
}

TraceFile::~TraceFile() {
    Finish();
}

bool TraceFile::Check(int written) {
    if (written < 0 && m_problem.empty())
        m_problem = std::strerror(errno);
    return m_problem.empty();
}

void TraceFile::stamp(std::string_view operation) {
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - m_start)
            .count();
    const std::string name = operation.empty() ? std::string("-") : std::string(operation);
    Check(std::fprintf(m_file, "%11.3f %-24s ", ms, name.c_str()));
}

void TraceFile::bytes(std::string_view operation, Trace_Direction direction,
                      std::span<const std::uint8_t> data) {
    // Once a write has failed, the trace has a hole: it stops there.
    if (m_file == nullptr || !m_problem.empty())
        return;
    stamp(operation);
    Check(std::fprintf(m_file, "%s %zu",
                       direction == Trace_Direction::kToPhone ? ">phone" : "<phone", data.size()));
    if (data.size() <= kBytesPerLine) {
        Check(std::fprintf(m_file, "%s%s\n", data.empty() ? "" : " ", Hex_Text(data).c_str()));
        return;
    }
    Check(std::fputc('\n', m_file) == EOF ? -1 : 1);
    for (std::size_t offset = 0; offset < data.size() && m_problem.empty();
         offset += kBytesPerLine) {
        const std::size_t count = std::min(kBytesPerLine, data.size() - offset);
        Check(std::fprintf(m_file, "%16s+%06zx %s\n", "", offset,
                           Hex_Text(data.subspan(offset, count)).c_str()));
    }
}

// An event may name a port: a line feed in its name forges no record.
void TraceFile::event(std::string_view operation, std::string_view what) {
    if (m_file == nullptr || !m_problem.empty())
        return;
    stamp(operation);
    Check(std::fprintf(m_file, "-- %s\n", Displayable_Text(what).c_str()));
}

void TraceFile::note(std::string_view what) {
    event("flashtool-cli", what);
}

void TraceFile::flush() {
    if (m_file != nullptr && m_problem.empty())
        Check(std::fflush(m_file));
}

std::string TraceFile::Finish() {
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
