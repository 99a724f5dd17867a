// The two texts of the status bar: the elapsed time of an update (panel 0)
// and the clock line (panel 1).
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "download/texts.h"

namespace clock_text {

// "h:m:s" without leading zeros: 65 seconds read 0:1:5.
std::string Elapsed_Text(int seconds);

// "The system time is " or "系統顯示時間為 " by the language, then the
// time text (which ends in a line feed), then ".".
std::string Clock_Line(Language language, std::string_view time_text);

// Elapsed_Seconds as Timer1 shows it: the seconds Timer1 has been running
// since the count was last reset, read from a steady clock, so that the count
// stays true however late a tick comes.
class Elapsed_Clock {
  public:
    using Clock = std::chrono::steady_clock;

    // Elapsed_Seconds = seconds (0 for a new command).
    void Set(long long seconds, Clock::time_point now = Clock::now());
    // Timer1 enabled and disabled.
    void Start(Clock::time_point now = Clock::now());
    void Stop(Clock::time_point now = Clock::now());
    bool Running() const { return m_started.has_value(); }
    // Seconds counted, to the nearest second (a tick is due on each whole
    // second and may come a little early or late).
    long long Seconds(Clock::time_point now = Clock::now()) const;

  private:
    Clock::duration m_counted{};
    std::optional<Clock::time_point> m_started;
};

}  // namespace clock_text
