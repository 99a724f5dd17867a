// UTC texts from the calendar of <chrono>: no time zone, no C library call
// that differs per system.
#include "station/utc_text.h"

#include <cstdio>

std::string Utc_Text(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    if (time == system_clock::time_point{})
        return {};
    const auto milliseconds_since = floor<milliseconds>(time);
    const auto day = floor<days>(milliseconds_since);
    const year_month_day date{day};
    const hh_mm_ss<milliseconds> clock{milliseconds_since - day};
    char text[40] = {};
    std::snprintf(
        text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
        static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
        static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
    return text;
}
