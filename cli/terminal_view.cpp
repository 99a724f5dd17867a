// The terminal's window. Standard output is line-buffered text meant for
// people and scripts alike; the progress line lives on standard error so
// that redirecting standard output never captures it.
#include "cli/terminal_view.h"

#include "cli/text_format.h"
#include "download/captions.h"
#include "download/texts.h"

namespace cli {
namespace {
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
}  // namespace

TerminalView::TerminalView(std::string image_path, Language language_flag, std::FILE* out,
                           std::FILE* err, bool draw_progress)
    : m_chooser(std::move(image_path)),
      m_language_flag(language_flag),
      m_out(out),
      m_err(err),
      m_draw_progress(draw_progress) {}

// A memo line may embed a port's name or a group's; only the line breaks of
// the program's own texts (the time text's) stay line breaks.
void TerminalView::Print_Str_to_Memo(std::string_view text) {
    Flush_Fields();
    End_Progress_Line();
    const std::string_view line = text::Up_To_Zero(text);
    m_memo.emplace_back(line);
    const std::string shown = Displayable_Text(line, Line_Breaks::kKept);
    std::fwrite(shown.data(), 1, shown.size(), m_out);
    std::fputc('\n', m_out);
    std::fflush(m_out);
}

void TerminalView::Print_Str_to_Tedit(std::string_view text) {
    m_new_version.text += text::Up_To_Zero(text);
    m_new_version.shown = false;
}

void TerminalView::Print_Str_to_OldTedit(std::string_view text) {
    m_old_version.text += text::Up_To_Zero(text);
    m_old_version.shown = false;
}

void TerminalView::Print_Bilingual_to_Memo(const text::Bilingual& line) {
    Print_Str_to_Memo(line.For(m_language_flag));
}

void TerminalView::Clean_Tedit() {
    m_new_version.text.clear();
    m_new_version.shown = false;
}

void TerminalView::Clean_OldTedit() {
    m_old_version.text.clear();
    m_old_version.shown = false;
}

void TerminalView::Show_Field(const caption::Pair& caption, Field& field) {
    if (field.shown)
        return;
    field.shown = true;
    if (field.text.empty())
        return;
    End_Progress_Line();
    const std::string_view label = caption.For(m_language_flag);
    std::fprintf(m_out, "%.*s: %s\n", static_cast<int>(label.size()), label.data(),
                 Displayable_Text(field.text).c_str());
    std::fflush(m_out);
}

void TerminalView::Flush_Fields() {
    // Captions of the window's labels Label2 and Label1.
    Show_Field(caption::kNewVersion, m_new_version);
    Show_Field(caption::kOldVersion, m_old_version);
}

void TerminalView::Set_Progress_Visible(bool visible) {
    if (!visible) {
        if (m_progress_on_screen)
            Draw_Progress(true);
        End_Progress_Line();
    }
    m_progress_visible = visible;
}

void TerminalView::End_Progress_Line() {
    if (!m_progress_on_screen)
        return;
    std::fputc('\n', m_err);
    std::fflush(m_err);
    m_progress_on_screen = false;
}

void TerminalView::TerminalProgress::Set_Range(int minimum, int maximum) {
    m_minimum = minimum;
    m_maximum = maximum;
    m_wrapped = false;
    m_view.m_progress_start = Clock::now();
}

void TerminalView::TerminalProgress::Set_Position(int position) {
    if (position <= m_minimum && m_position > m_minimum)
        m_wrapped = true;
    m_position = position;
    m_view.Draw_Progress(m_wrapped || position >= m_maximum);
}

void TerminalView::Draw_Progress(bool force) {
    if (!m_draw_progress || !m_progress_visible)
        return;
    const Clock::time_point now = Clock::now();
    const int range = m_progress.m_maximum - m_progress.m_minimum;
    const int position =
        m_progress.m_wrapped ? range : m_progress.m_position - m_progress.m_minimum;
    if (!m_progress_start)
        m_progress_start = now;
    if (!force && m_progress_on_screen && now - m_last_draw < kRedrawInterval)
        return;
    m_last_draw = now;
    const double seconds =
        m_progress_start ? std::chrono::duration<double>(now - *m_progress_start).count() : 0.0;
    const std::string line =
        Progress_Text(position < 0 ? 0 : static_cast<std::uint64_t>(position),
                      range < 0 ? 0 : static_cast<std::uint64_t>(range), seconds);
    // Carriage return and erase-to-end-of-line: redraw in place.
    std::fprintf(m_err, "\r%s\x1b[K", line.c_str());
    std::fflush(m_err);
    m_progress_on_screen = true;
}

void TerminalView::Set_Timer1_Enabled(bool enabled) {
    if (enabled) {
        m_elapsed.Start();
        m_timer1_used = true;
    } else {
        m_elapsed.Stop();
    }
}

void TerminalView::Set_Elapsed_Seconds(int seconds) {
    m_elapsed.Set(seconds);
    if (seconds == 0 && !m_elapsed.Running())
        m_timer1_used = false;
}

void TerminalView::Show_Message_Box(const text::Bilingual& text) {
    Print_Str_to_Memo(text.For(m_language_flag));
}

std::optional<long long> TerminalView::Elapsed_Seconds() const {
    if (!m_timer1_used)
        return std::nullopt;
    return m_elapsed.Seconds();
}

}  // namespace cli
