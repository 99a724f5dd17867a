// Each phone's trace file in the station's trace folder.
#include "cli/station_traces.h"

#include <cstdio>

#include "cli/text_format.h"
#include "station/station_files.h"

namespace cli {

Station_Traces::Station_Traces(std::shared_ptr<platform::Private_Directory> directory)
    : m_directory(std::move(directory)) {}

std::unique_ptr<CComport> Station_Traces::Make_Port(const Port_Candidate& port) {
    auto comport = std::make_unique<CComport>();
    const std::lock_guard lock(m_lock);
    const int phone = ++m_phones;
    char number[16] = {};
    std::snprintf(number, sizeof number, "%03d", phone);
    std::string path;
    std::FILE* file = Create_Station_File(
        *m_directory, "phone-" + std::string(number) + "-" + Port_File_Part(port.display_name),
        ".trace", path);
    if (file == nullptr) {
        if (!m_said_problem)
            std::fprintf(stderr, "flashtool-cli: cannot write phone %d's trace in %s\n", phone,
                         Displayable_Text(m_directory->Path()).c_str());
        m_said_problem = true;
        return comport;
    }
    std::unique_ptr<TraceFile> trace = TraceFile::Adopt(file);
    trace->note("station phone " + std::to_string(phone) + " port " + port.display_name);
    comport->Set_Trace(trace.get());
    m_traces[phone] = std::move(trace);
    return comport;
}

void Station_Traces::Finish(int phone, std::string_view how) {
    const std::lock_guard lock(m_lock);
    const auto found = m_traces.find(phone);
    if (found == m_traces.end())
        return;
    found->second->note(how);
    found->second->Finish();
}

}  // namespace cli
