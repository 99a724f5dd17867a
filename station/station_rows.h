// One row for each phone of a station, from its events: the one place that
// says what a phone's row holds and when it counts as updated, failed,
// stopped, gone, or as a port where no phone was. Every view of a station (the command's table,
// lines, last line and exit code, the station window) applies the events here and reads its counts
// from here, so that they never disagree.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "station/station.h"

// What a phone's row holds, whatever shows it.
struct Station_Phone_Row {
    int phone = 0;         // the station's number: a re-plugged phone is a new one
    std::string port;      // escaped
    std::string identity;  // the identity cell, escaped
    // The device in full (station_cells.h's Identity_Text), for a tooltip.
    std::string identity_text;
    Station_Phase phase = Station_Phase::kArrived;
    std::uint64_t bytes_done = 0;
    std::uint64_t bytes_total = 0;
    double transfer_started = -1;  // seconds since arrival of its first progress; -1: none yet
    double transfer_seconds = 0;   // from its first progress to its last
    double seconds = 0;            // since the phone arrived, as of its last event
    bool finished = false;
    bool gone = false;
    Download_Outcome outcome = Download_Outcome::kStopped;
    int code = 0;
    bool phone_touched = false;
    bool no_phone = false;             // no boot loader answered on its port
    Advice advice = Advice::kUpdated;  // once finished: what to do with the phone
    std::string last_line;             // the last line of its messages, as the station escaped it
    std::string slot;                  // its socket's label, escaped; empty: none
    // A port that is no phone's (kSkipped): why is its last_line.
    bool skipped = false;
};

// How a row stands: the one definition of each count (Station_Counts::Add
// counts them in this order).
enum class Station_Row_State {
    kWorking,  // arrived, its session still running and its port still there
    kUpdated,  // finished with the image
    kFailed,   // finished without it, not by a stop; or unplugged before it finished
    kStopped,  // a stop of the station ended it before it was updated
    kNoPhone,  // no boot loader answered on its port: no phone was there
    kSkipped,  // not a phone's port: never opened, in no other count
};
Station_Row_State State_Of(const Station_Phone_Row& row);
Station_Row_State State_Of(const Station_Phone_Result& result);

struct Station_Counts {
    int updated = 0;
    int failed = 0;
    int stopped = 0;
    int working = 0;
    int no_phone = 0;  // not phones: neither failed nor of the count
    int gone = 0;      // rows whose port went away, whenever it did
    int skipped = 0;   // ports that are no phone's
    // Every phone that ended without the image, stopped ones too.
    int Not_Updated() const { return failed + stopped; }
    void Add(Station_Row_State state);
};
Station_Counts Count_Results(const std::vector<Station_Phone_Result>& results);
// The summary's counts from its phones.
void Count_Results_Into(Station_Summary& summary);

class Station_Row_Model {
  public:
    // Applies one event; returns the index of the phone's row (its first
    // event of any kind makes the row; each kSkipped a row of its own), or
    // -1 for kEnded.
    int Apply(const Station_Event& event);

    const std::vector<Station_Phone_Row>& Rows() const { return m_rows; }
    Station_Counts Counts() const;
    bool Ended() const { return m_ended; }

  private:
    std::vector<Station_Phone_Row> m_rows;
    bool m_ended = false;
};
