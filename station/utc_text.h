// Times of the station's records, in UTC, as ISO 8601 with milliseconds
// ("2026-12-10T08:15:02.125Z"): a shop's records read the same whatever the
// machine's time zone, and sort as text.
#pragma once

#include <chrono>
#include <string>

// Empty for the clock's epoch (a time never set).
std::string Utc_Text(std::chrono::system_clock::time_point time);
