// The port object as flash and read-version set it up: the port list
// (--port narrows the search to one device), the trace file, and the stop
// that a signal (Ctrl-C, SIGTERM, SIGHUP) requests while the session lives.
#pragma once

#include <memory>
#include <string_view>

#include "bootloader/comport.h"
#include "cli/arguments.h"
#include "cli/trace_file.h"

namespace cli {

class Port_Session {
  public:
    // port outlives the session. While the session lives, a stop signal
    // stops port's waits instead of ending the program.
    explicit Port_Session(CComport& port);
    ~Port_Session();
    Port_Session(const Port_Session&) = delete;
    Port_Session& operator=(const Port_Session&) = delete;

    // False, after saying why on standard error, when the trace file cannot
    // be created.
    bool Prepare(const Arguments& args);
    CComport& Port() { return m_port; }
    TraceFile* Trace() { return m_trace.get(); }
    // Whether a signal asked the program to stop.
    bool Stopped() const;
    // After a stop: closes the port, says on standard error which signal
    // stopped what (what_became: how the phone was left), notes it in the
    // trace and returns the exit code, 128 + the signal's number.
    int Report_Stop(std::string_view what_became);
    // A line of the tool's own in the trace, if there is one.
    void Note(std::string_view what);

  private:
    CComport& m_port;
    std::unique_ptr<TraceFile> m_trace;
};

}  // namespace cli
