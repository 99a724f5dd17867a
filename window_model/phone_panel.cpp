// Phone_Panel: the update's view calls turned into what the window shows.
#include "window_model/phone_panel.h"

#include <algorithm>

#include "download/display_text.h"
#include "download/texts.h"

Phone_Panel::Phone_Panel(Panel_Face& face, std::function<void()> wake,
                         std::unique_ptr<CComport> port)
    : m_face(face), m_runner(*this, std::move(wake), std::move(port)) {}

// ---- Message area and version fields ----

void Phone_Panel::Print_Str_to_Memo(std::string_view text) {
    // The joined text ends at a zero byte, the line break included.
    const std::string_view kept = text::Up_To_Zero(text);
    std::string appended = text::Display_Utf8(kept);
    if (kept.size() == text.size())
        appended += '\n';
    m_memo += appended;
    m_face.Memo_Appended(appended);
}

void Phone_Panel::Print_Bilingual_to_Memo(const text::Bilingual& line) {
    Print_Str_to_Memo(line.For(m_language));
}

void Phone_Panel::Clean_Memo() {
    m_memo.clear();
    m_face.Memo_Cleared();
}

void Phone_Panel::Print_Str_to_Tedit(std::string_view text) {
    m_new_version += text::Up_To_Zero(text);
    Show_Field(Panel_Face::Field::kNewVersion, m_new_version);
}

void Phone_Panel::Print_Str_to_OldTedit(std::string_view text) {
    m_old_version += text::Up_To_Zero(text);
    Show_Field(Panel_Face::Field::kOldVersion, m_old_version);
}

void Phone_Panel::Clean_Tedit() {
    m_new_version.clear();
    Show_Field(Panel_Face::Field::kNewVersion, m_new_version);
}

void Phone_Panel::Clean_OldTedit() {
    m_old_version.clear();
    Show_Field(Panel_Face::Field::kOldVersion, m_old_version);
}

// A version comes from the image or the phone: an erased record's 0xFF bytes
// read "\xff", not "ÿ", as in the command-line tool.
void Phone_Panel::Show_Field(Panel_Face::Field field, const std::string& bytes) {
    m_face.Field_Shown(field, text::Displayable_Text(bytes));
}

// ---- Buttons, dialog and boxes ----

void Phone_Panel::Button_Control(bool enable) {
    m_buttons_on = enable;
    m_face.Buttons_Enabled(enable);
    if (!enable)
        return;
    // The command enables the buttons last, on every end: the update is over.
    if (m_bar_visible)
        Set_Progress_Visible(false);
    if (m_bar_position != m_bar_minimum)
        Set_Position(m_bar_minimum);
    Take_Away_Question();
}

std::string Phone_Panel::Choose_File() {
    return m_face.Choose_Image_File().value_or(std::string());
}

void Phone_Panel::Show_Message_Box(const text::Bilingual& text) {
    // Never on top of a stop question that this very box makes pointless.
    Take_Away_Question();
    m_face.Show_Completion_Box(text.For(m_language));
}

void Phone_Panel::Take_Away_Question() {
    if (!m_question_open || m_question_moot)
        return;
    m_question_moot = true;
    m_face.Dismiss_Stop_Question();
}

bool Phone_Panel::May_Close(const std::function<bool(std::string_view question)>& ask_user) {
    if (m_question_open)
        return false;  // the question is on screen already
    if (!m_runner.Running() || m_runner.Stop_If_Harmless())
        return true;
    m_question_open = true;
    m_question_moot = false;
    const bool stop =
        ask_user(text::By_Language(m_language, text::kStopQuestionEn, text::kStopQuestionZh));
    m_question_open = false;
    if (m_question_moot)
        return false;  // the update ended meanwhile; the window shows how
    if (stop)
        m_runner.Stop();
    return stop;
}

// ---- Progress bar ----

void Phone_Panel::Set_Range(int minimum, int maximum) {
    m_bar_minimum = minimum;
    m_bar_maximum = maximum;
    Show_Progress();
}

void Phone_Panel::Set_Position(int position) {
    m_bar_position = position;
    Show_Progress();
}

void Phone_Panel::Show_Progress() {
    // A position outside the range shows as its nearer end; an empty range
    // as a full bar (equal bounds would make some bars a busy indicator).
    if (m_bar_maximum <= m_bar_minimum) {
        m_face.Progress_Shown(0, 1, 1);
        return;
    }
    m_face.Progress_Shown(m_bar_minimum, m_bar_maximum,
                          std::clamp(m_bar_position, m_bar_minimum, m_bar_maximum));
}

void Phone_Panel::Set_Progress_Visible(bool visible) {
    m_bar_visible = visible;
    m_face.Progress_Visible(visible);
}

// ---- Elapsed time ----

void Phone_Panel::Set_Timer1_Enabled(bool enabled) {
    if (enabled) {
        m_elapsed.Start();
    } else {
        m_elapsed.Stop();
    }
    m_face.Timer1_Running(enabled);
}

void Phone_Panel::Set_Elapsed_Seconds(int seconds) {
    m_elapsed_seconds = seconds;
    m_elapsed.Set(seconds);
}

int Phone_Panel::Count_Elapsed_Seconds() {
    m_elapsed_seconds = static_cast<int>(m_elapsed.Seconds());
    return m_elapsed_seconds;
}
