// Queued_View: each call becomes a closure that holds copies of its texts and
// runs against the window's view on the window's thread.
#include "download/queued_view.h"

Queued_View::Queued_View(DownloadView& window_view, View_Call_Queue& queue)
    : m_window(window_view), m_queue(queue) {}

void Queued_View::Print_Str_to_Memo(std::string_view text) {
    m_queue.Post([this, text = std::string(text)] { m_window.Print_Str_to_Memo(text); });
}

void Queued_View::Print_Str_to_Tedit(std::string_view text) {
    m_queue.Post([this, text = std::string(text)] { m_window.Print_Str_to_Tedit(text); });
}

void Queued_View::Print_Str_to_OldTedit(std::string_view text) {
    m_queue.Post([this, text = std::string(text)] { m_window.Print_Str_to_OldTedit(text); });
}

void Queued_View::Clean_Memo() {
    m_queue.Post([this] { m_window.Clean_Memo(); });
}

void Queued_View::Clean_Tedit() {
    m_queue.Post([this] { m_window.Clean_Tedit(); });
}

void Queued_View::Clean_OldTedit() {
    m_queue.Post([this] { m_window.Clean_OldTedit(); });
}

void Queued_View::Print_Bilingual_to_Memo(const text::Bilingual& line) {
    m_queue.Post([this, line] { m_window.Print_Bilingual_to_Memo(line); });
}

void Queued_View::Button_Control(bool enable) {
    m_queue.Post([this, enable] { m_window.Button_Control(enable); });
}

void Queued_View::Set_Progress_Visible(bool visible) {
    m_queue.Post([this, visible] { m_window.Set_Progress_Visible(visible); });
}

void Queued_View::Set_Timer1_Enabled(bool enabled) {
    m_queue.Post([this, enabled] { m_window.Set_Timer1_Enabled(enabled); });
}

void Queued_View::Set_Elapsed_Seconds(int seconds) {
    m_queue.Post([this, seconds] { m_window.Set_Elapsed_Seconds(seconds); });
}

void Queued_View::Show_Message_Box(const text::Bilingual& text) {
    m_queue.Call_And_Wait([this, text] { m_window.Show_Message_Box(text); });
}

std::string Queued_View::Queued_Dialog::Choose_File() {
    return m_view.m_queue
        .Ask<std::string>([this] { return m_view.m_window.Image_Dialog().Choose_File(); })
        .value_or(std::string());
}

void Queued_View::Queued_Progress::Set_Range(int minimum, int maximum) {
    m_view.m_queue.Post(
        [this, minimum, maximum] { m_view.m_window.Progress_Bar().Set_Range(minimum, maximum); });
}

void Queued_View::Queued_Progress::Set_Position(int position) {
    m_latest.store(position);
    if (position == 0) {
        // The transfer's start and end: always shown, in their place.
        m_view.m_queue.Post([this] { m_view.m_window.Progress_Bar().Set_Position(0); });
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - m_last_post < kBarInterval)
        return;  // a later block or the empty bar at the end shows it
    if (m_queued.exchange(true))
        return;  // the queued call shows the latest when it runs
    m_last_post = now;
    m_view.m_queue.Post([this] {
        // Cleared before the position is read: a position stored after this
        // read is posted anew. An empty bar has a call of its own.
        m_queued.store(false);
        if (const int latest = m_latest.load(); latest != 0)
            m_view.m_window.Progress_Bar().Set_Position(latest);
    });
}
