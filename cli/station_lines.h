// The station command's output when standard output is no terminal (a log,
// a pipe): one line for each event, each starting with its phone and port,
// "phone 2 /dev/ttyACM1: rewriting". Progress is thinned to a line for each
// tenth of a phone's bytes; every other event has its line, in the --lang
// language.
#pragma once

#include <cstdio>
#include <map>
#include <string>

#include "download/texts.h"
#include "station/station.h"
#include "station/station_rows.h"

namespace cli {

class Station_Lines {
  public:
    Station_Lines(std::FILE* out, Language language) : m_out(out), m_language(language) {}
    void Show(const Station_Event& event);

    // The line of an event, or empty when it is left out (progress within
    // the same tenth).
    std::string Line_Of(const Station_Event& event);

  private:
    std::FILE* m_out;
    Language m_language;
    Station_Row_Model m_model;
    std::map<int, int> m_tenths_shown;  // by phone: tenths of its bytes shown so far
};

}  // namespace cli
