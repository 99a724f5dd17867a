// The journal of a Win32 window program's run: the user's default journal
// (the command-line tool's), opened once at the start. What it cannot do is
// said in the window's message area: why no journal is kept, once, and a
// record that could not be written, from the writer's thread to the
// window's through a thread timer.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "download/download_command.h"
#include "window_model/station_window_model.h"

class App_Journal {
  public:
    // show_line: a line for the message area, called on the window's thread.
    explicit App_Journal(std::function<void(const std::string& line)> show_line);
    ~App_Journal();
    App_Journal(const App_Journal&) = delete;
    App_Journal& operator=(const App_Journal&) = delete;

    // Why no journal is kept this run, as the message area says it; empty
    // when one is.
    const std::string& Problem() const { return m_problem; }
    // Says the problem, if any, in the message area (once per run).
    void Say_Problem();
    // The update window's command, recorded; call before its first update.
    void Follow_Update(Download_Command& command);
    // The station window's stations, each recorded.
    Station_Factory Follow_Stations(Station_Factory inner);

    struct Parts;  // the journal's own objects: none where it is not built

  private:
    std::function<void(const std::string& line)> m_show_line;
    std::string m_problem;
    bool m_said = false;
    std::unique_ptr<Parts> m_parts;
};
