// The local time of a calendar time, the one clock call the update's texts
// need that differs per system. local_time_*.cpp implement it.
#pragma once

#include <ctime>

namespace platform {

std::tm Local_Time(std::time_t time);

}  // namespace platform
