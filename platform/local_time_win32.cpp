// The local time on Windows.
#include <time.h>

#include "platform/local_time.h"

namespace platform {

std::tm Local_Time(std::time_t time) {
    std::tm local{};
    localtime_s(&local, &time);
    return local;
}

}  // namespace platform
