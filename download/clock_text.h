// The two texts of the status bar: the elapsed time of an update (panel 0)
// and the clock line (panel 1).
#pragma once

#include <string>
#include <string_view>

#include "download/texts.h"

namespace clock_text {

// "h:m:s" without leading zeros: 65 seconds read 0:1:5.
std::string Elapsed_Text(int seconds);

// "The system time is " or "系統顯示時間為 " by the language, then the
// time text (which ends in a line feed), then ".".
std::string Clock_Line(Language language, std::string_view time_text);

}  // namespace clock_text
