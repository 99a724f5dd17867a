// Writes the trace as plain text:
//   <ms since start> <operation> <direction> <count> <hex bytes>
// Records longer than 32 bytes continue on indented lines that start with
// the offset of their first byte, so block transfers stay readable.
#include "cli/trace_file.h"

#include <algorithm>

#include "cli/text_format.h"
#include "download/texts.h"

namespace cli {
namespace {
constexpr std::size_t kBytesPerLine = 32;
}

std::unique_ptr<TraceFile> TraceFile::Create(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr)
        return nullptr;
    return std::unique_ptr<TraceFile>(new TraceFile(file));
}

TraceFile::TraceFile(std::FILE* file) : m_file(file), m_start(std::chrono::steady_clock::now()) {
    std::fprintf(m_file, "# flashtool-cli trace, started %s", text::Time_Text_Now().c_str());
    std::fprintf(m_file,
                 "# ms since start, operation, direction (>phone: host to phone, <phone: phone"
                 " to host, --: event), byte count, bytes in hex\n");
}

TraceFile::~TraceFile() {
    std::fclose(m_file);
}

void TraceFile::stamp(std::string_view operation) {
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - m_start)
            .count();
    const std::string name = operation.empty() ? std::string("-") : std::string(operation);
    std::fprintf(m_file, "%11.3f %-24s ", ms, name.c_str());
}

void TraceFile::bytes(std::string_view operation, Trace_Direction direction,
                      std::span<const std::uint8_t> data) {
    stamp(operation);
    std::fprintf(m_file, "%s %zu", direction == Trace_Direction::kToPhone ? ">phone" : "<phone",
                 data.size());
    if (data.size() <= kBytesPerLine) {
        std::fprintf(m_file, "%s%s\n", data.empty() ? "" : " ", Hex_Text(data).c_str());
        return;
    }
    std::fputc('\n', m_file);
    for (std::size_t offset = 0; offset < data.size(); offset += kBytesPerLine) {
        const std::size_t count = std::min(kBytesPerLine, data.size() - offset);
        std::fprintf(m_file, "%16s+%06zx %s\n", "", offset,
                     Hex_Text(data.subspan(offset, count)).c_str());
    }
}

void TraceFile::event(std::string_view operation, std::string_view what) {
    stamp(operation);
    std::fprintf(m_file, "-- %.*s\n", static_cast<int>(what.size()), what.data());
}

void TraceFile::note(std::string_view what) {
    event("flashtool-cli", what);
}

void TraceFile::flush() {
    std::fflush(m_file);
}

}  // namespace cli
