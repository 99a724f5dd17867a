// Where the program is built without the journal (the Windows cross-build):
// no support archive, which is made of the journal's records.
#include <cstdio>

#include "cli/commands.h"
#include "cli/exit_codes.h"

namespace cli {

int Run_Support(const Arguments&) {
    std::fprintf(stderr, "flashtool-cli: this build makes no support archive\n");
    return kExitUsage;
}

}  // namespace cli
