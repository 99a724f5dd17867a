// support's journal part where the build keeps the journal: its records read
// from the SQLite file, a missing journal left missing.
#include "cli/support_journal.h"

#include <filesystem>
#include <vector>

#include "cli/cli_journal.h"
#include "cli/support_files.h"
#include "journal/journal_store.h"

namespace cli {
namespace {

constexpr std::size_t kJournalRecords = 50;

std::string File_Name(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

bool Names_Phone(const std::string& path, int phone) {
    return !path.empty() && File_Name(path).rfind(Phone_File_Prefix(phone), 0) == 0;
}

bool Failed(const Journal_Record& record) {
    return record.result != "updated" && record.result != "running" && record.result != "no_phone";
}

}  // namespace

Support_Journal Read_Support_Journal(const Arguments& args, int phone) {
    Support_Journal part;
    std::vector<Journal_Record> records;  // the phone's first, then the newest, oldest first
    const std::string path = args.journal ? *args.journal : Default_Journal_Path();
    std::error_code error;
    if (path.empty() || !std::filesystem::exists(path, error)) {
        part.note = "no journal was found";
        part.csv = Journal_Csv_Text(records);
        return part;
    }
    Journal_Store::Opened opened = Journal_Store::Open(path);
    if (!opened.store) {
        part.note = "the journal could not be read: " + opened.problem;
        part.csv = Journal_Csv_Text(records);
        return part;
    }
    std::string problem;
    const std::vector<Journal_Record> all = opened.store->List({}, problem);
    if (!problem.empty())
        part.note = "the journal could not be read: " + problem;
    std::optional<Journal_Record> named;
    for (auto record = all.rbegin(); record != all.rend() && !named; ++record) {
        const bool names = phone > 0 ? Names_Phone(record->log_file, phone) ||
                                           Names_Phone(record->trace_file, phone)
                                     : args.last && Failed(*record);
        if (names)
            named = *record;
    }
    if (named) {
        records.push_back(*named);
        part.phone = Support_Phone_Record{named->log_file, named->trace_file, named->dump_file};
    }
    const std::size_t first = all.size() > kJournalRecords ? all.size() - kJournalRecords : 0;
    for (std::size_t i = first; i < all.size(); ++i) {
        if (!named || all[i].id != named->id)
            records.push_back(all[i]);
    }
    part.csv = Journal_Csv_Text(records);
    return part;
}

}  // namespace cli
