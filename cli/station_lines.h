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
    struct Transfer {
        int tenths_shown = -1;        // tenths of its bytes shown so far
        double started_seconds = -1;  // its first progress event, since arrival
    };
    std::map<int, Transfer> m_transfers;  // by phone
};

}  // namespace cli
