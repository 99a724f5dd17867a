// Port set-up shared by flash and read-version.
#include "cli/port_session.h"

#include <cstdio>
#include <string>

#include "cli/flash_ending.h"
#include "cli/port_name.h"
#include "cli/text_format.h"
#include "platform/devices.h"
#include "platform/stop_signals.h"

namespace cli {

Port_Session::Port_Session(CComport& port) : m_port(port) {
    platform::Set_Stop_Target(&m_port.Stop_Request());
}

Port_Session::~Port_Session() {
    platform::Set_Stop_Target(nullptr);
}

bool Port_Session::Prepare(const Arguments& args,
                           const std::optional<platform::File_Identity>& image) {
    if (args.port) {
        m_port.Set_Port_Lister(Make_Named_Port_Lister(*args.port));
        m_named_port = Displayable_Text(::Named_Port(*args.port).display_name);
        m_doctor_command += " --port " + *args.port;
    }
    if (args.trace) {
        std::string problem;
        m_trace = TraceFile::Create(*args.trace, image, problem);
        if (!m_trace) {
            std::fprintf(stderr,
                         "flashtool-cli: cannot use %s as the trace file: %s; name a new file "
                         "for --trace.\n",
                         Displayable_Text(*args.trace).c_str(), problem.c_str());
            return false;
        }
        m_trace_path = *args.trace;
        m_trace->note(std::string("command ") + Command_Name(args.command) +
                      (args.port ? " --port " + *args.port : std::string()));
        m_port.Set_Trace(m_trace.get());
    }
    return true;
}

bool Port_Session::Stopped() const {
    return platform::Stop_Signal_Number() != 0;
}

Search_Failure Port_Session::Failed_Search() const {
    Search_Failure failure;
    failure.listing = m_port.Last_Listing();
    failure.refused = m_port.Refused_Ports();
    failure.named_port = m_named_port;
    // With --port the search opened that one port only, last of all.
    failure.named_port_missing =
        m_named_port &&
        platform::Open_Error_Kind(m_port.Last_Open_Error()) == platform::Open_Error::kNoSuchDevice;
    failure.doctor_command = m_doctor_command;
    return failure;
}

int Port_Session::Report_Stop(Flash_Ending ending, Language language) {
    m_port.Close();
    const int signal_number = platform::Stop_Signal_Number();
    const std::string name = platform::Stop_Signal_Name(signal_number);
    Note("stopped by " + name + "; port closed");
    Finish_Trace();
    std::fflush(stdout);
    const std::string line = Ending_Text(ending, language, name);
    std::fprintf(stderr, "flashtool-cli: %s\n", line.c_str());
    return 128 + signal_number;
}

void Port_Session::Note(std::string_view what) {
    if (m_trace)
        m_trace->note(what);
}

void Port_Session::Finish_Trace() {
    if (!m_trace)
        return;
    m_port.Set_Trace(nullptr);
    const std::string problem = m_trace->Finish();
    m_trace.reset();
    if (!problem.empty()) {
        std::fflush(stdout);
        std::fprintf(stderr, "flashtool-cli: the trace file %s is incomplete: %s\n",
                     Displayable_Text(m_trace_path).c_str(), problem.c_str());
    }
}

}  // namespace cli
