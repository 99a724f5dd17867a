// What support takes from the journal: its last records as journal.csv (the
// phone's own first) and the files the phone's record names. The build picks
// support_journal.cpp (the journal's records) or support_journal_none.cpp (a
// build that keeps no journal); support writes whichever it gets the same way.
#pragma once

#include <optional>
#include <string>

#include "cli/arguments.h"

namespace cli {

// The files a phone's journal record names; empty: none.
struct Support_Phone_Record {
    std::string log_file;
    std::string trace_file;
    std::string dump_file;
};

struct Support_Journal {
    std::optional<std::string> csv;             // journal.csv; none: no such member
    std::optional<Support_Phone_Record> phone;  // the phone's record, where one was found
    std::string note;                           // why there are no records
};

// The records of the journal --journal names (else the default one), read,
// never made; the phone's record is the newest naming phone N's files, or
// with --last and no phone, the newest that failed.
Support_Journal Read_Support_Journal(const Arguments& args, int phone);

}  // namespace cli
