// How a station is doing as a line counts it: phones updated per hour since
// it started, the yield (updated of those that ended with a phone, stopped
// ones included) and the mean time an updated phone took from its arrival.
// The table's footer, the window's status line and the JSON summary say it.
#pragma once

#include <string>
#include <vector>

#include "download/texts.h"
#include "station/station_rows.h"

struct Station_Throughput {
    int updated = 0;
    int ended = 0;               // updated, failed or stopped: phones, not ports
    double phones_per_hour = 0;  // updated, over the station's time so far
    double yield = 0;            // updated / ended; 0 when none ended
    double mean_seconds = 0;     // of the updated phones; 0 when none
};

// elapsed_seconds: since the station started.
Station_Throughput Throughput_Of(const std::vector<Station_Phone_Row>& rows,
                                 double elapsed_seconds);
Station_Throughput Throughput_Of(const std::vector<Station_Phone_Result>& results,
                                 double elapsed_seconds);
// "12.0 phones/h, yield 92% (11 of 12), 48 s a phone"; empty before any
// phone ended.
std::string Throughput_Text(const Station_Throughput& throughput, Language language);
