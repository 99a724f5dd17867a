// The station's view of one phone: lines, progress, the phone's old version.
#include "station/station_view.h"

#include <utility>
#include <vector>

#include "download/display_text.h"
#include "download/texts.h"

std::vector<std::string> Station_Lines(std::string_view text) {
    text = text::Up_To_Zero(text);
    std::vector<std::string> lines;
    while (true) {
        const std::size_t end = text.find('\n');
        const std::string_view part = text.substr(0, end);
        if (part == "." && !lines.empty()) {
            lines.back() += '.';
        } else if (!part.empty()) {
            lines.push_back(text::Displayable_Text(part));
        }
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

Station_View::Station_View(Language language, std::uint64_t bytes_total, Handlers handlers)
    : m_language(language), m_bytes_total(bytes_total), m_handlers(std::move(handlers)) {}

void Station_View::Print_Bilingual_to_Memo(const text::Bilingual& line) {
    Print_Str_to_Memo(line.For(m_language));
}

void Station_View::Show_Message_Box(const text::Bilingual& text) {
    Print_Str_to_Memo(text.For(m_language));
}

void Station_View::Print_Str_to_Memo(std::string_view text) {
    for (const std::string& line : Station_Lines(text)) {
        if (m_handlers.line)
            m_handlers.line(line);
    }
}

void Station_View::Print_Str_to_OldTedit(std::string_view text) {
    m_phone_version += text::Up_To_Zero(text);
}

void Station_View::Set_Range(int, int maximum) {
    m_range_set = true;
    m_bar_maximum = maximum;
    m_last_position = 0;
}

// The port moves the bar once per accepted block and puts it back to 0 when
// the last block fills it: that 0 is the whole transfer done. The bar counts
// in an int; an image beyond that range is scaled back to its bytes.
void Station_View::Set_Position(int position) {
    if (!m_range_set)
        return;  // the bar being readied before the transfer is announced
    std::uint64_t done = 0;
    if (position == 0 && m_last_position > 0) {
        done = m_bytes_total;
    } else if (position > 0 && m_bar_maximum > 0) {
        done = static_cast<std::uint64_t>(position);
        if (static_cast<std::uint64_t>(m_bar_maximum) < m_bytes_total)
            done = static_cast<std::uint64_t>(static_cast<double>(done) *
                                              static_cast<double>(m_bytes_total) / m_bar_maximum);
    }
    m_last_position = position;
    m_bytes_done = done;
    if (m_handlers.progress)
        m_handlers.progress(done, m_bytes_total);
}
