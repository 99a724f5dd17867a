// What a shop asks of its journal: phones per hour, how many were updated,
// and where the failures were (by step and code, by slot, by station).
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "journal/journal_record.h"

struct Journal_Count {
    int phones = 0;  // finished sessions that found a phone
    int updated = 0;
    double Yield() const { return phones == 0 ? 0.0 : static_cast<double>(updated) / phones; }
};

struct Journal_Stats {
    Journal_Count total;
    int running = 0;                               // not ended (yet)
    int interrupted = 0;                           // cut off with their program
    int no_phone = 0;                              // ports where no phone answered: not phones
    std::map<std::string, Journal_Count> by_hour;  // "2026-12-10T08" (UTC)
    // Failed phones by (step, code); "" step: ended otherwise (stopped, unplugged).
    std::map<std::pair<std::string, int>, int> failures;
    std::map<std::string, Journal_Count> by_slot;  // "" : no slot
    std::map<std::string, Journal_Count> by_station;
};

Journal_Stats Stats_Of(const std::vector<Journal_Record>& records);
// Counts times records like this one (the database's groups of alike ones).
void Add_To_Stats(Journal_Stats& stats, const Journal_Record& record, int times);
