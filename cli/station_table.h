// The station command's output on a terminal: a table of the phones, one
// row each (port, device, phase, percent, rate, elapsed, result or the
// phone's last message; first the socket's label when a slots file names
// one), and a row for each port skipped as no phone's, redrawn in place
// with cursor moves, at most ten times a second however fast the events
// come. Rows are cut to the terminal's width so that none wraps and the
// redraw stays in place, but never inside the device's USB path; the last
// table stays on screen. Its words are in the --lang language.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "download/texts.h"
#include "station/station.h"
#include "station/station_rows.h"

namespace cli {

inline constexpr std::chrono::milliseconds kTableRedrawInterval{100};

class Station_Table {
  public:
    using Clock = std::chrono::steady_clock;

    // width, height: the terminal's columns and rows (height 0: as many
    // rows as there are phones). A table taller than the terminal could not
    // be redrawn in place: rows give way, updated phones' first and failed
    // ones' last, oldest first, counted by kind in a line. Under the rows,
    // the station's throughput once a phone has ended.
    Station_Table(std::FILE* out, Language language, int width, int height = 0)
        : m_out(out),
          m_language(language),
          m_width(width),
          m_height(height),
          m_started(Clock::now()) {}
    // Rows in red (failed) and green (updated); off unless asked for.
    void Use_Colour(bool colour) { m_colour = colour; }
    // Journal records a line's server has yet to take, shown in the footer
    // while there are any.
    void Records_Waiting(int waiting) { m_records_waiting = waiting; }
    // The terminal's new size: the next redraw clears the screen and starts
    // at its top, as lines the terminal re-wrapped cannot be drawn over.
    void Resize(int width, int height);
    void Show(const Station_Event& event);
    // A line of the program's own under the table (the question of a first
    // Ctrl-C), kept there through the redraws; empty: none.
    void Notice(std::string text);
    // Redraws when something changed and the last redraw is
    // kTableRedrawInterval old; the elapsed times of running phones count as
    // a change once a second.
    void Redraw_If_Due(Clock::time_point now);
    // The last redraw, whatever the time.
    void Finish(Clock::time_point now);

    // The table as it would be drawn now: a heading and a row for each
    // phone (as many as fit), each cut to the width, without cursor moves.
    std::vector<std::string> Lines(Clock::time_point now) const;

  private:
    // The last cell: the result once finished, else the phone's last line.
    std::string Result_Cell(const Station_Phone_Row& row) const;
    void Hide_Rows(std::vector<std::string>& lines, std::size_t hidden, std::size_t width) const;
    void Draw(Clock::time_point now);

    std::FILE* m_out;
    Language m_language;
    int m_width;
    int m_height;
    Clock::time_point m_started;
    bool m_colour = false;
    int m_records_waiting = -1;
    bool m_clear = false;
    Station_Row_Model m_model;
    std::vector<Clock::time_point> m_last_event;  // by row: when its last event came
    std::string m_notice;
    bool m_changed = true;
    Clock::time_point m_last_draw{};
    std::size_t m_lines_drawn = 0;
};

// The columns a text takes on a terminal (East Asian wide characters two).
std::size_t Display_Columns(const std::string& text);
// text cut to at most columns, whole characters only.
std::string Cut_To_Columns(const std::string& text, std::size_t columns);

}  // namespace cli
