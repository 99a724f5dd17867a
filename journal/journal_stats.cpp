// The journal's counts, from the records a listing took.
#include "journal/journal_stats.h"

Journal_Stats Stats_Of(const std::vector<Journal_Record>& records) {
    Journal_Stats stats;
    for (const Journal_Record& record : records) {
        if (record.result == "running") {
            ++stats.running;
            continue;
        }
        if (record.result == "no_phone") {
            ++stats.no_phone;
            continue;
        }
        const bool updated = record.result == "updated";
        const auto count = [updated](Journal_Count& into) {
            ++into.phones;
            into.updated += updated ? 1 : 0;
        };
        if (record.result == "interrupted")
            ++stats.interrupted;
        count(stats.total);
        count(stats.by_hour[record.started.substr(0, 13)]);
        count(stats.by_slot[record.slot]);
        count(stats.by_station[record.station]);
        if (!updated)
            ++stats.failures[{record.failed_step.empty() ? record.result : record.failed_step,
                              record.code}];
    }
    return stats;
}
