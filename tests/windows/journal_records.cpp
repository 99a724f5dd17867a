// The default journal read through the journal's own store.
#include "journal_records.h"

#include "journal/journal_store.h"

std::optional<std::vector<Journal_Record>> Default_Journal_Records(std::string& problem) {
    Journal_Store::Opened opened = Journal_Store::Open(Default_Journal_Path());
    if (!opened.store) {
        problem = opened.problem;
        return std::vector<Journal_Record>{};
    }
    return opened.store->List(Journal_Filter{}, problem);
}
