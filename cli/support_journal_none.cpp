// support's journal part where the build keeps no journal (the Windows build
// for now): no journal.csv, and the README says why.
#include "cli/support_journal.h"

namespace cli {

Support_Journal Read_Support_Journal(const Arguments&, int) {
    Support_Journal part;
    part.note = "this build keeps no journal";
    return part;
}

}  // namespace cli
