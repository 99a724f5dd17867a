// The rows of a station's phones and their counts: see station_rows.h.
#include "station/station_rows.h"

#include <algorithm>

#include "download/display_text.h"
#include "station/station_cells.h"

namespace {

Station_Row_State State_Of_Outcome(Download_Outcome outcome, bool no_phone) {
    if (no_phone)
        return Station_Row_State::kNoPhone;
    if (outcome == Download_Outcome::kUpdated)
        return Station_Row_State::kUpdated;
    return outcome == Download_Outcome::kStopped ? Station_Row_State::kStopped
                                                 : Station_Row_State::kFailed;
}

}  // namespace

Station_Row_State State_Of(const Station_Phone_Row& row) {
    if (row.skipped)
        return Station_Row_State::kSkipped;
    if (row.finished)
        return State_Of_Outcome(row.outcome, row.no_phone);
    // A phone unplugged before its session said how it ended did not get
    // the image: its session ends as a failure where it was.
    return row.gone ? Station_Row_State::kFailed : Station_Row_State::kWorking;
}

Station_Row_State State_Of(const Station_Phone_Result& result) {
    return State_Of_Outcome(result.outcome, result.no_phone);
}

void Station_Counts::Add(Station_Row_State state) {
    // In the order of Station_Row_State.
    int* const counts[] = {&working, &updated, &failed, &stopped, &no_phone, &skipped};
    ++*counts[static_cast<int>(state)];
}

Station_Counts Count_Results(const std::vector<Station_Phone_Result>& results) {
    Station_Counts counts;
    for (const Station_Phone_Result& result : results)
        counts.Add(State_Of(result));
    return counts;
}

int Station_Row_Model::Apply(const Station_Event& event) {
    if (event.kind == Station_Event::Kind::kEnded) {
        m_ended = true;
        return -1;
    }
    const bool skipped = event.kind == Station_Event::Kind::kSkipped;
    auto found =
        skipped ? m_rows.rend()
                : std::find_if(m_rows.rbegin(), m_rows.rend(), [&](const Station_Phone_Row& row) {
                      return !row.skipped && row.phone == event.phone;
                  });
    if (found == m_rows.rend()) {
        Station_Phone_Row& made = m_rows.emplace_back();
        made.phone = event.phone;
        made.port = text::Displayable_Text(
            event.port.display_name.empty() ? event.port.device_path : event.port.display_name);
        made.identity = Identity_Cell(event.port.identity);
        made.identity_text = Identity_Text(event.port.identity);
        made.slot = text::Displayable_Text(event.slot);
        made.skipped = skipped;
        found = m_rows.rbegin();
    }
    Station_Phone_Row& row = *found;
    row.seconds = std::max(row.seconds, event.seconds);
    switch (event.kind) {
        case Station_Event::Kind::kArrived:
        case Station_Event::Kind::kEnded:
            break;
        case Station_Event::Kind::kPhase:
            row.phase = event.phase;
            row.gone = row.gone || event.phase == Station_Phase::kGone;
            break;
        case Station_Event::Kind::kProgress:
            row.bytes_done = event.bytes_done;
            row.bytes_total = event.bytes_total;
            if (row.transfer_started < 0)
                row.transfer_started = event.seconds;
            row.transfer_seconds = event.seconds - row.transfer_started;
            break;
        case Station_Event::Kind::kLine:
        case Station_Event::Kind::kSkipped:
            row.last_line = event.text;
            break;
        case Station_Event::Kind::kFinished:
            row.finished = true;
            row.outcome = event.outcome;
            row.code = event.code;
            row.phone_touched = event.phone_touched;
            row.no_phone = event.no_phone;
            row.advice = Advice_For(Ending_Of(event));
            // How far the transfer came; the bytes never go back.
            row.bytes_done = std::max(row.bytes_done, event.bytes_done);
            row.bytes_total = std::max(row.bytes_total, event.bytes_total);
            row.phase = Station_Phase::kFinished;
            break;
        case Station_Event::Kind::kDeparted:
            row.gone = true;
            row.phase = Station_Phase::kGone;
            break;
    }
    return static_cast<int>(std::distance(m_rows.begin(), found.base()) - 1);
}

Station_Counts Station_Row_Model::Counts() const {
    Station_Counts counts;
    for (const Station_Phone_Row& row : m_rows) {
        counts.Add(State_Of(row));
        counts.gone += row.gone ? 1 : 0;
    }
    return counts;
}

void Count_Results_Into(Station_Summary& summary) {
    const Station_Counts counts = Count_Results(summary.phones);
    summary.updated = counts.updated;
    summary.failed = counts.failed;
    summary.stopped_phones = counts.stopped;
    summary.no_phone = counts.no_phone;
}
