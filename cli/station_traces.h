// station --trace-dir DIR: a trace of each phone's port, as flash --trace
// writes it, in DIR/phone-NNN-PORT.trace (named as the phone's log in
// --log-dir is). The station asks for each session's port object here, so
// that the trace is on the port from its first open; the trace is finished
// when the station says the phone's session has ended.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "bootloader/comport.h"
#include "cli/trace_file.h"
#include "platform/private_directory.h"
#include "serial/port_list.h"

namespace cli {

class Station_Traces {
  public:
    explicit Station_Traces(std::shared_ptr<platform::Private_Directory> directory);
    Station_Traces(const Station_Traces&) = delete;
    Station_Traces& operator=(const Station_Traces&) = delete;

    // The next phone's port object, its trace attached; a trace that cannot
    // be made leaves the phone without one (said once on standard error).
    // Called for each arrival in order, so the n-th call is phone n.
    std::unique_ptr<CComport> Make_Port(const Port_Candidate& port);
    // Notes how the phone's session ended and closes its trace.
    void Finish(int phone, std::string_view how);

  private:
    std::shared_ptr<platform::Private_Directory> m_directory;
    std::mutex m_lock;
    int m_phones = 0;
    bool m_said_problem = false;
    // Kept until the station is gone: a port object that closes late writes
    // to a finished trace, which takes nothing more.
    std::map<int, std::unique_ptr<TraceFile>> m_traces;
};

}  // namespace cli
