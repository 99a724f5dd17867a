// App_Journal with the journal built in: the journal service of the run,
// the update's or the stations' observers on its writer.
#include "winapp/app_journal.h"

#include <windows.h>
// winbase.h's old macro would take Journal_Stats::Yield.
#undef Yield

#include <cstdlib>
#include <deque>
#include <mutex>
#include <vector>

#include "journal/journal_service.h"
#include "journal/journal_store.h"
#include "window_model/window_journal.h"

namespace {

// A write failure is said on the writer's thread; the window's thread takes
// the lines from here on a timer of its own (no window of ours is needed).
std::mutex g_mutex;
std::deque<std::string> g_lines;
std::function<void(const std::string&)>* g_show_line = nullptr;  // the window's thread's only
constexpr UINT kDrainMilliseconds = 500;
// The window ends the process from its close handler (std::exit), past the
// objects of the start-up: what the writer holds is written first.
Journal_Writer* g_writer = nullptr;

void Flush_At_Exit() {
    if (g_writer != nullptr)
        g_writer->Flush();
}

void CALLBACK Drain_Lines(HWND, UINT, UINT_PTR, DWORD) {
    std::deque<std::string> lines;
    {
        const std::lock_guard lock(g_mutex);
        lines.swap(g_lines);
    }
    for (const std::string& line : lines) {
        if (g_show_line != nullptr)
            (*g_show_line)(line);
    }
}

}  // namespace

struct App_Journal::Parts {
    std::shared_ptr<Journal_Service> service;
    std::unique_ptr<Update_Journal> update;
    UINT_PTR timer = 0;
};

App_Journal::App_Journal(std::function<void(const std::string& line)> show_line)
    : m_show_line(std::move(show_line)), m_parts(std::make_unique<Parts>()) {
    // What opening finds is said at the window's first chance; the last
    // line of a journal that could not be opened is why none is kept.
    std::vector<std::string> said;
    m_parts->service = Journal_Service::Open(
        Default_Journal_Path(), [&said](const std::string& line) { said.push_back(line); });
    if (!m_parts->service && !said.empty()) {
        m_problem = said.back();
        said.pop_back();
    }
    {
        const std::lock_guard lock(g_mutex);
        g_lines.insert(g_lines.end(), said.begin(), said.end());
    }
    if (!m_parts->service)
        return;
    m_parts->service->Say_To([](const std::string& problem) {
        const std::lock_guard lock(g_mutex);
        g_lines.push_back("journal: " + problem);
    });
    g_show_line = &m_show_line;
    g_writer = &m_parts->service->Writer();
    std::atexit(Flush_At_Exit);
    m_parts->timer = SetTimer(nullptr, 0, kDrainMilliseconds, Drain_Lines);
}

App_Journal::~App_Journal() {
    // The update's observer goes before the writer it hands records to.
    m_parts->update.reset();
    g_writer = nullptr;
    if (m_parts->service)
        m_parts->service->Say_To({});
    m_parts->service.reset();
    if (m_parts->timer != 0)
        KillTimer(nullptr, m_parts->timer);
    g_show_line = nullptr;
}

void App_Journal::Say_Problem() {
    std::deque<std::string> lines;
    {
        const std::lock_guard lock(g_mutex);
        lines.swap(g_lines);
    }
    for (const std::string& line : lines)
        m_show_line(line);
    if (!m_said && !m_problem.empty())
        m_show_line(m_problem);
    m_said = true;
}

void App_Journal::Follow_Update(Download_Command& command) {
    if (m_parts->service)
        m_parts->update = Journal_Window_Update(m_parts->service->Writer(), command);
}

Station_Factory App_Journal::Follow_Stations(Station_Factory inner) {
    if (!m_parts->service)
        return inner;
    // The stations hold the writer, and through it the journal, while they run.
    return With_Journal(std::move(inner), std::shared_ptr<Journal_Writer>(
                                              m_parts->service, &m_parts->service->Writer()));
}
