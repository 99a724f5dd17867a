// A build without the journal: nothing to read.
#include "journal_records.h"

std::optional<std::vector<Journal_Record>> Default_Journal_Records(std::string&) {
    return std::nullopt;
}
