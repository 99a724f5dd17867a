// What the station window shows of its model, as it binds its controls to
// it. The model calls these on the window's thread whenever what they show
// changes; texts are valid UTF-8, ready to show, one line each unless said.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "station/station.h"
#include "station/station_rows.h"

// One phone of the table: the station's row, with its cells' texts in the
// window's language.
struct Station_Row : Station_Phone_Row {
    std::chrono::steady_clock::time_point event_time{};  // when its last event was applied
    bool unplugged_at_risk = false;  // its port went while its flash was being rewritten
    // The cells.
    std::string port_text;  // the socket's label first, where there is one
    std::string phase_text;
    int percent = 0;  // 0 to 100
    std::string rate_text;
    std::string elapsed_text;
    std::string result_text;
    // Once a phone ended without the update: what happened and what to do
    // next, shown in place of its last message (which its own lines keep).
    std::string advice_text;
};

// The buttons and texts of the window that follow the language.
enum class Station_Caption { kTitle, kOpenImage, kStart, kStop, kSettings };

class Station_Window_Face {
  public:
    virtual ~Station_Window_Face() = default;
    virtual void Caption_Shown(Station_Caption caption, std::string_view text) = 0;
    virtual void Column_Headers_Shown(const std::vector<std::string>& headers) = 0;
    virtual void Buttons_Enabled(bool open_image, bool start, bool stop) = 0;
    // Row index is the table's row, in arrival order; a new index is one past
    // the last row.
    virtual void Row_Shown(std::size_t index, const Station_Row& row) = 0;
    virtual void Rows_Cleared() = 0;
    // A phone ended without the update: a window that can makes a sound.
    virtual void Phone_Failed(std::size_t /*index*/) {}
    // A line of a phone's own messages (Station_Window_Model::Lines has them
    // all), for a window that shows the selected phone's; ends in "\n".
    virtual void Row_Line_Appended(std::size_t index, std::string_view line) = 0;
    // The counters and the image, on one line.
    virtual void Status_Shown(std::string_view text) = 0;
    // A line of the message area: the image loader's messages and the
    // station's own notices; ends in "\n".
    virtual void Message_Appended(std::string_view text) = 0;
    // The file-open dialog: the file chosen, in the form the C library opens,
    // or nothing for a cancel.
    virtual std::optional<std::string> Choose_Image_File() = 0;
    // The modal stop question (may be several lines); true for "yes". Events
    // go on arriving while it is on screen.
    virtual bool Ask_Stop_Question(std::string_view question) = 0;
    // The question on screen has become pointless (no phone it named is at
    // risk any more): take it away, answered as "no".
    virtual void Dismiss_Stop_Question() = 0;
    // Some phones the question on screen names have finished: it says this
    // instead, naming the rest.
    virtual void Stop_Question_Changed(std::string_view question) = 0;
};
