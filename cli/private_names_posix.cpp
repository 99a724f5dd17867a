// The user's names on Linux: $HOME, and the first of $USER, $LOGNAME and
// $USERNAME that is set.
#include <cstdlib>

#include "cli/private_names.h"

namespace cli {

Private_Names Private_Names_Now() {
    const char* home = std::getenv("HOME");
    std::string user;
    for (const char* variable : {"USER", "LOGNAME", "USERNAME"}) {
        if (const char* value = std::getenv(variable); value != nullptr && *value != '\0') {
            user = value;
            break;
        }
    }
    return Posix_Private_Names(home != nullptr ? home : "", user);
}

}  // namespace cli
