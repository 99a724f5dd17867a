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

// One phone of the table, with its cells' texts in the window's language.
struct Station_Row {
    int phone = 0;  // the station's number: a re-plugged phone is a new one
    std::string port;
    std::string identity;
    Station_Phase phase = Station_Phase::kArrived;
    std::uint64_t bytes_done = 0;
    std::uint64_t bytes_total = 0;
    double seconds = 0;  // since the phone arrived, as of its last event
    std::chrono::steady_clock::time_point event_time{};  // when that event was applied
    bool finished = false;
    bool gone = false;
    Download_Outcome outcome = Download_Outcome::kStopped;
    int code = 0;
    // The cells.
    std::string phase_text;
    int percent = 0;  // 0 to 100
    std::string rate_text;
    std::string elapsed_text;
    std::string result_text;
    std::string last_line;
};

// The buttons and texts of the window that follow the language.
enum class Station_Caption { kTitle, kOpenImage, kStart, kStop };

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
};
