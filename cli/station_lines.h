// The station command's output when standard output is no terminal (a log,
// a pipe): one line for each event, each starting with its phone and port,
// "phone 2 /dev/ttyACM1: rewriting". Progress is thinned to a line for each
// tenth of a phone's bytes; every other event has its line.
#pragma once

#include <cstdio>
#include <map>
#include <string>

#include "station/station.h"

namespace cli {

class Station_Lines {
  public:
    explicit Station_Lines(std::FILE* out) : m_out(out) {}
    void Show(const Station_Event& event);

    // The line of an event, or empty when it is left out (progress within
    // the same tenth).
    std::string Line_Of(const Station_Event& event);

  private:
    std::FILE* m_out;
    struct Transfer {
        int tenths_shown = -1;        // tenths of its bytes shown so far
        double started_seconds = -1;  // its first progress event, since arrival
    };
    std::map<int, Transfer> m_transfers;  // by phone
};

}  // namespace cli
