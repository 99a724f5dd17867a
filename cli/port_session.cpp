// Port set-up shared by flash and read-version.
#include "cli/port_session.h"

#include <cstdio>
#include <cstdlib>

#include "cli/exit_codes.h"
#include "serial/interrupt.h"

namespace cli {

Port_Session::Port_Session() {
    m_port.Set_Message_Pump([this] { Stop_If_Interrupted(); });
}

bool Port_Session::Prepare(const Arguments& args) {
    if (args.port)
        m_port.Set_Port_Lister(Make_Fixed_Port_Lister({*args.port}));
    if (args.trace) {
        m_trace = TraceFile::Create(*args.trace);
        if (!m_trace) {
            std::fprintf(stderr, "flashtool-cli: cannot create the trace file %s\n",
                         args.trace->c_str());
            return false;
        }
        m_trace->note(std::string("command ") + Command_Name(args.command) +
                      (args.port ? " --port " + *args.port : std::string()));
        m_port.Set_Trace(m_trace.get());
    }
    return true;
}

void Port_Session::Note(std::string_view what) {
    if (m_trace)
        m_trace->note(what);
}

void Port_Session::Stop_If_Interrupted() {
    if (!serial::Interrupt_Requested())
        return;
    if (m_tidy)
        m_tidy();
    m_port.Close();
    Note("interrupted by the user; port closed");
    if (m_trace)
        m_trace->flush();
    std::fflush(stdout);
    std::fprintf(stderr, "flashtool-cli: interrupted, the port is closed.\n");
    // std::exit flushes and closes every C stream, the trace file included.
    std::exit(kExitInterrupted);
}

}  // namespace cli
