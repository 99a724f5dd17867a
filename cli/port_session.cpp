// Port set-up shared by flash and read-version.
#include "cli/port_session.h"

#include <cstdio>
#include <string>

#include "cli/platform.h"

namespace cli {

Port_Session::Port_Session(CComport& port) : m_port(port) {
    Set_Stop_Target(&m_port.Stop_Request());
}

Port_Session::~Port_Session() {
    Set_Stop_Target(nullptr);
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

bool Port_Session::Stopped() const {
    return Stop_Signal_Number() != 0;
}

int Port_Session::Report_Stop(std::string_view what_became) {
    m_port.Close();
    const int signal_number = Stop_Signal_Number();
    const std::string name = Stop_Signal_Name(signal_number);
    Note("stopped by " + name + "; port closed");
    if (m_trace)
        m_trace->flush();
    std::fflush(stdout);
    std::fprintf(stderr, "flashtool-cli: interrupted by %s, the port is closed; %.*s\n",
                 name.c_str(), static_cast<int>(what_became.size()), what_became.data());
    return 128 + signal_number;
}

void Port_Session::Note(std::string_view what) {
    if (m_trace)
        m_trace->note(what);
}

}  // namespace cli
