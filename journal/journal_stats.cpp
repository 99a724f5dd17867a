// The journal's counts, from the records a listing took.
#include "journal/journal_stats.h"

void Add_To_Stats(Journal_Stats& stats, const Journal_Record& record, int times) {
    if (record.result == "running") {
        stats.running += times;
        return;
    }
    if (record.result == "no_phone") {
        stats.no_phone += times;
        return;
    }
    const bool updated = record.result == "updated";
    const auto count = [updated, times](Journal_Count& into) {
        into.phones += times;
        into.updated += updated ? times : 0;
    };
    if (record.result == "interrupted")
        stats.interrupted += times;
    count(stats.total);
    count(stats.by_hour[record.started.substr(0, 13)]);
    count(stats.by_slot[record.slot]);
    count(stats.by_station[record.station]);
    if (!updated)
        stats.failures[{record.failed_step.empty() ? record.result : record.failed_step,
                        record.code}] += times;
}

Journal_Stats Stats_Of(const std::vector<Journal_Record>& records) {
    Journal_Stats stats;
    for (const Journal_Record& record : records)
        Add_To_Stats(stats, record, 1);
    return stats;
}
