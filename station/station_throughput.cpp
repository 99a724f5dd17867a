// The station's throughput from its rows or its results.
#include "station/station_throughput.h"

#include <cstdio>

namespace {

struct Tally {
    int updated = 0;
    int ended = 0;
    double updated_seconds = 0;
    void Add(Station_Row_State state, double seconds) {
        if (state == Station_Row_State::kUpdated) {
            ++updated;
            updated_seconds += seconds;
        }
        if (state == Station_Row_State::kUpdated || state == Station_Row_State::kFailed ||
            state == Station_Row_State::kStopped)
            ++ended;
    }
    Station_Throughput Done(double elapsed_seconds) const {
        Station_Throughput throughput;
        throughput.updated = updated;
        throughput.ended = ended;
        // Under a second of station time says nothing of an hour.
        if (elapsed_seconds >= 1)
            throughput.phones_per_hour = updated * 3600.0 / elapsed_seconds;
        if (ended > 0)
            throughput.yield = static_cast<double>(updated) / ended;
        if (updated > 0)
            throughput.mean_seconds = updated_seconds / updated;
        return throughput;
    }
};

}  // namespace

Station_Throughput Throughput_Of(const std::vector<Station_Phone_Row>& rows,
                                 double elapsed_seconds) {
    Tally tally;
    for (const Station_Phone_Row& row : rows) {
        // A row still working has not ended; one unplugged early has.
        tally.Add(State_Of(row), row.seconds);
    }
    return tally.Done(elapsed_seconds);
}

Station_Throughput Throughput_Of(const std::vector<Station_Phone_Result>& results,
                                 double elapsed_seconds) {
    Tally tally;
    for (const Station_Phone_Result& result : results)
        tally.Add(State_Of(result), result.seconds);
    return tally.Done(elapsed_seconds);
}

std::string Throughput_Text(const Station_Throughput& throughput, Language language) {
    if (throughput.ended == 0)
        return {};
    char text[160] = {};
    const int percent = static_cast<int>(throughput.yield * 100 + 0.5);
    const int mean = static_cast<int>(throughput.mean_seconds + 0.5);
    if (language == Language::kEnglish) {
        std::snprintf(text, sizeof text, "%.1f phones/h, yield %d%% (%d of %d), %d s a phone",
                      throughput.phones_per_hour, percent, throughput.updated, throughput.ended,
                      mean);
    } else {
        std::snprintf(text, sizeof text, "每小時 %.1f 支,良率 %d%%(%d/%d),每支 %d 秒",
                      throughput.phones_per_hour, percent, throughput.updated, throughput.ended,
                      mean);
    }
    return text;
}
