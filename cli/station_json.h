// `flashtool-cli station --json`: every event of the station as one JSON
// object a line (JSON Lines) on standard output, for scripts and dashboards.
// Each object carries "v" (the schema's version, 1), "event", "phone" and
// "port", and "t", when it happened (UTC, station/utc_text.h); the event's own
// fields follow. Nothing is dropped or merged: every
// progress event of the station is a line. Texts from outside (port names,
// the device's own names, message lines) are JSON strings whatever their
// bytes: control characters are escaped, and a byte that is not part of
// well-formed UTF-8 becomes the text "\xNN".
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "station/json_text.h"
#include "station/station.h"

namespace cli {

inline constexpr int kStationJsonVersion = 1;

// text as a JSON string, quotes included (station/json_text.h).
using ::Json_String;

// The line of one event, without the line break; a finished phone's advice
// in that language.
std::string Json_Line(const Station_Event& event, Language language);

// The last line: how the station ended. no_phone: none finished before the
// time-out; signal_name: the signal that stopped it, or empty.
// elapsed_seconds: since the station started, for its throughput.
std::string Json_Summary_Line(const Station_Summary& summary, int exit_code,
                              std::string_view signal_name, Language language,
                              double elapsed_seconds = 0);

class Station_Json {
  public:
    Station_Json(std::FILE* out, Language language) : m_out(out), m_language(language) {}
    // Writes the event's line and flushes it, so that a reader sees each as it happens.
    void Show(const Station_Event& event);
    // The question of a first Ctrl-C: the phones at risk it names.
    void Stop_Asked(const std::vector<int>& at_risk);
    void End(const Station_Summary& summary, int exit_code, std::string_view signal_name,
             double elapsed_seconds = 0);

  private:
    void Write(const std::string& line);
    std::FILE* m_out;
    Language m_language;
};

}  // namespace cli
