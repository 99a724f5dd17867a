// Where the program is built without SQLite (a Windows build that could not
// fetch it): no journal. Every flash or station that would keep one says so
// once; --journal-required starts no phone.
#include <cstdio>

#include "cli/cli_journal.h"
#include "cli/exit_codes.h"

namespace cli {

Journal_Opening Open_Cli_Journal(const Arguments& args, const std::string&) {
    Journal_Opening opening;
    if (!args.no_journal) {
        std::fprintf(stderr, "flashtool-cli: this build keeps no journal%s\n",
                     args.journal_required ? "; --journal-required: no phone is started" : "");
        opening.refused = args.journal_required;
    }
    return opening;
}

int Run_Journal(const Arguments&) {
    std::fprintf(stderr, "flashtool-cli: this build keeps no journal\n");
    return kExitUsage;
}

}  // namespace cli
