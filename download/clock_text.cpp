// Status-bar texts of the elapsed-time and clock timers.
#include "download/clock_text.h"

#include "download/texts.h"

namespace clock_text {

std::string Elapsed_Text(int seconds) {
    const int hours = seconds / 3600;
    const int minutes = seconds / 60 - hours * 60;
    const int rest = seconds % 60;
    return std::to_string(hours) + ":" + std::to_string(minutes) + ":" + std::to_string(rest);
}

std::string Clock_Line(Language language, std::string_view time_text) {
    std::string line(text::By_Language(language, text::kClockEn, text::kClockZh));
    line += time_text;
    line += '.';
    return line;
}

}  // namespace clock_text
