// The port object as flash and read-version set it up: the port list
// (--port narrows the search to one device), the trace file, and the pump
// that turns Ctrl-C into a clean end with the port closed.
#pragma once

#include <functional>
#include <memory>

#include "cli/arguments.h"
#include "cli/trace_file.h"
#include "serial/comport.h"

namespace cli {

class Port_Session {
  public:
    Port_Session();
    // False, after saying why on standard error, when the trace file cannot
    // be created.
    bool Prepare(const Arguments& args);
    CComport& Port() { return m_port; }
    TraceFile* Trace() { return m_trace.get(); }
    // Runs before the program ends on Ctrl-C (to end a progress line).
    void On_Interrupt(std::function<void()> tidy) { m_tidy = std::move(tidy); }
    // When Ctrl-C was pressed: closes the port, notes it in the trace and ends
    // the program with exit code 130. Called before every port read, write
    // and queue count, and by the commands between steps.
    void Stop_If_Interrupted();
    // A line of the tool's own in the trace, if there is one.
    void Note(std::string_view what);

  private:
    CComport m_port;
    std::unique_ptr<TraceFile> m_trace;
    std::function<void()> m_tidy;
};

}  // namespace cli
