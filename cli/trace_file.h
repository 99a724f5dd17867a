// --trace FILE: every byte that crosses the port, one record per read or
// write, with the microseconds since the port was first opened, the protocol
// operation that moved it and its direction, and the line's opens, closes,
// settings and hang-ups, so a failed update can be diagnosed from the file
// alone and the virtual phone can replay it (format: docs/traces.md).
//
// The trace is only ever a new or emptied regular file, never the image (the
// check is Open_Output_File's). A write that fails (a full disk, a size
// limit) does not stop the update: the trace stops growing and Finish says
// why, for the end of the output.
//
// A station's traces are finished from the main thread while a phone's
// session may still write: every call takes the trace's lock.
#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/files.h"
#include "serial/trace.h"

namespace cli {

class TraceFile final : public TraceSink {
  public:
    // Null, with why in problem, when the file is refused or cannot be
    // created. keep: a file the trace must not be (the image).
    static std::unique_ptr<TraceFile> Create(const std::string& path,
                                             const std::optional<platform::File_Identity>& keep,
                                             std::string& problem);
    // A trace in a file already made (a station's, in its private folder).
    static std::unique_ptr<TraceFile> Adopt(std::FILE* file);
    ~TraceFile() override;
    TraceFile(const TraceFile&) = delete;
    TraceFile& operator=(const TraceFile&) = delete;

    void bytes(std::string_view operation, Trace_Direction direction,
               std::span<const std::uint8_t> data) override;
    void event(std::string_view operation, Trace_Event kind, std::string_view what) override;
    // A line of the tool's own (the command line, the outcome).
    void note(std::string_view what);
    // Writes what is left and closes the file: empty when every record
    // reached it, else why not. Nothing is written after it.
    std::string Finish();

  private:
    explicit TraceFile(std::FILE* file);
    void stamp(std::string_view kind, std::string_view operation);
    void flush();
    // Whether the last write reached the file's buffer (keeps the first error).
    bool Check(int written);

    std::FILE* m_file;
    // Set at the first open: times before it read 0.
    std::optional<std::chrono::steady_clock::time_point> m_start;
    std::string m_problem;
    std::mutex m_lock;
};

}  // namespace cli
