// The records of the user's default journal, as the window programs under
// test left them; nullopt where the build keeps no journal.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "journal/journal_record.h"

std::optional<std::vector<Journal_Record>> Default_Journal_Records(std::string& problem);
