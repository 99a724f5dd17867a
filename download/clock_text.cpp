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

void Elapsed_Clock::Set(long long seconds, Clock::time_point now) {
    m_counted = std::chrono::seconds(seconds);
    if (m_started)
        m_started = now;
}

void Elapsed_Clock::Start(Clock::time_point now) {
    if (!m_started)
        m_started = now;
}

void Elapsed_Clock::Stop(Clock::time_point now) {
    if (!m_started)
        return;
    m_counted += now - *m_started;
    m_started.reset();
}

long long Elapsed_Clock::Seconds(Clock::time_point now) const {
    Clock::duration total = m_counted;
    if (m_started)
        total += now - *m_started;
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(total).count();
    return (milliseconds + 500) / 1000;
}

}  // namespace clock_text
