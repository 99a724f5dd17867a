// --trace FILE: every byte that crosses the port, one record per read or
// write, with the milliseconds since the trace began, the protocol operation
// that moved it and its direction, so a failed update can be diagnosed from
// the file alone.
#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "serial/trace.h"

namespace cli {

class TraceFile final : public TraceSink {
  public:
    // Null when the file cannot be created.
    static std::unique_ptr<TraceFile> Create(const std::string& path);
    ~TraceFile() override;
    TraceFile(const TraceFile&) = delete;
    TraceFile& operator=(const TraceFile&) = delete;

    void bytes(std::string_view operation, Trace_Direction direction,
               std::span<const std::uint8_t> data) override;
    void event(std::string_view operation, std::string_view what) override;
    // A line of the tool's own (the command line, the outcome).
    void note(std::string_view what);
    void flush();

  private:
    explicit TraceFile(std::FILE* file);
    void stamp(std::string_view operation);

    std::FILE* m_file;
    std::chrono::steady_clock::time_point m_start;
};

}  // namespace cli
