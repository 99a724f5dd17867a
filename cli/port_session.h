// The port object as flash and read-version set it up: the port list
// (--port narrows the search to one device), the trace file, and the stop
// that a signal (Ctrl-C, SIGTERM, SIGHUP) requests while the session lives.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "bootloader/comport.h"
#include "cli/arguments.h"
#include "cli/flash_ending.h"
#include "cli/trace_file.h"
#include "platform/files.h"

namespace cli {

class Port_Session {
  public:
    // port outlives the session. While the session lives, a stop signal
    // stops port's waits instead of ending the program.
    explicit Port_Session(CComport& port);
    ~Port_Session();
    Port_Session(const Port_Session&) = delete;
    Port_Session& operator=(const Port_Session&) = delete;

    // False, after saying why on standard error, when the trace file is
    // refused or cannot be created. image: the file the trace must not be.
    bool Prepare(const Arguments& args,
                 const std::optional<platform::File_Identity>& image = std::nullopt);
    CComport& Port() { return m_port; }
    TraceFile* Trace() { return m_trace.get(); }
    // Whether a signal asked the program to stop.
    bool Stopped() const;
    // What the port's last search met on its way, once it found no phone.
    Search_Failure Failed_Search() const;
    // After a stop: closes the port, notes it in the trace, and says on
    // standard error, as the output's last line, which signal stopped it and
    // how the phone was left (ending: one of the kStopped endings). Returns
    // the exit code, 128 + the signal's number.
    int Report_Stop(Flash_Ending ending, Language language);
    // A line of the tool's own in the trace, if there is one.
    void Note(std::string_view what);
    // Closes the trace, if there is one; says on standard error when some of
    // it could not be written (the update's own outcome is unchanged).
    void Finish_Trace();

  private:
    CComport& m_port;
    std::unique_ptr<TraceFile> m_trace;
    std::string m_trace_path;
    std::optional<std::string> m_named_port;  // --port, as the messages show it
    std::string m_doctor_command = "flashtool-cli doctor";
};

}  // namespace cli
