// App_Journal where the build keeps no journal (no SQLite could be had for
// it): the window says so once and updates as ever.
#include "winapp/app_journal.h"

struct App_Journal::Parts {};

App_Journal::App_Journal(std::function<void(const std::string& line)> show_line)
    : m_show_line(std::move(show_line)), m_problem("no journal is kept: this build has none") {}

App_Journal::~App_Journal() = default;

void App_Journal::Say_Problem() {
    if (!m_said)
        m_show_line(m_problem);
    m_said = true;
}

void App_Journal::Follow_Update(Download_Command&) {}

Station_Factory App_Journal::Follow_Stations(Station_Factory inner) {
    return inner;
}
