// The local time on Linux and other POSIX systems.
#include <time.h>

#include "platform/local_time.h"

namespace platform {

std::tm Local_Time(std::time_t time) {
    std::tm local{};
    localtime_r(&time, &local);
    return local;
}

}  // namespace platform
