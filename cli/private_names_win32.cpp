// The user's names on Windows: the profile folder (%USERPROFILE%, where the
// logs and the dump usually are) and %USERNAME%.
#include <cstdlib>

#include "cli/private_names.h"

namespace cli {

Private_Names Private_Names_Now() {
    const char* profile = std::getenv("USERPROFILE");
    const char* user = std::getenv("USERNAME");
    return Windows_Private_Names(profile != nullptr ? profile : "", user != nullptr ? user : "");
}

}  // namespace cli
