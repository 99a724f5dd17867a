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

void Queued_View::Print_Str_to_ToolBar(int panel, std::string_view text) {
    m_queue.Post(
        [this, panel, text = std::string(text)] { m_window.Print_Str_to_ToolBar(panel, text); });
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

void Queued_View::Show_Message_Box(std::string_view text) {
    m_queue.Call_And_Wait([this, text = std::string(text)] { m_window.Show_Message_Box(text); });
}

Language Queued_View::Language_Flag() const {
    return m_queue.Ask<Language>([this] { return m_window.Language_Flag(); })
        .value_or(Language::kChinese);
}

std::string Queued_View::Queued_Dialog::Choose_File() {
    return m_view.m_queue
        .Ask<std::string>([this] { return m_view.m_window.Image_Dialog().Choose_File(); })
        .value_or(std::string());
}

void Queued_View::Progress_Model::set_minimum(int value) {
    m_minimum = value;
    m_view.m_queue.Post([this, value] { m_view.m_window.Progress_Bar().set_minimum(value); });
}

void Queued_View::Progress_Model::set_maximum(int value) {
    m_maximum = value;
    m_view.m_queue.Post([this, value] { m_view.m_window.Progress_Bar().set_maximum(value); });
}

void Queued_View::Progress_Model::set_step(int value) {
    m_step = value;
    m_view.m_queue.Post([this, value] { m_view.m_window.Progress_Bar().set_step(value); });
}

void Queued_View::Progress_Model::set_position(int value) {
    m_position = value;
    m_view.m_queue.Post([this, value] { m_view.m_window.Progress_Bar().set_position(value); });
}
