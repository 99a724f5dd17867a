// Main_Window_Model: start state, language, clock, status panels, closing.
#include "window_model/main_window_model.h"

#include <cstdio>

#include "download/captions.h"
#include "download/clock_text.h"
#include "download/display_text.h"
#include "download/temp_log.h"
#include "download/texts.h"

Main_Window_Model::Main_Window_Model(Main_Window_Face& face, std::function<void()> wake,
                                     std::unique_ptr<CComport> port)
    : m_face(face), m_panel(face, std::move(wake), std::move(port)) {}

void Main_Window_Model::FormCreate() {
    // The port object and the bar are wired where the update's worker is made.
    m_panel.Set_Elapsed_Seconds(0);
    m_face.Timer1_Running(false);
    m_face.Timer2_Running(false);
    m_clock_on = false;
    m_panel.Set_Language(Language::kChinese);
    Set_Captions(Language::kChinese);
    m_panel.Clean_Memo();
}

bool Main_Window_Model::FormClose(const std::function<bool(std::string_view question)>& ask_user) {
    // A close request ends the program, also in the middle of an update; but
    // while the phone's flash is being rewritten the user is asked first,
    // since stopping then leaves a phone that cannot start.
    if (!m_panel.May_Close(ask_user))
        return false;
    m_panel.Finish_Before_Exit();  // the worker ends within the port's stop latency
    Write_Temp_Log_Or_Exit();
    m_panel.Comport().Close();
    std::fflush(stdout);
    return true;
}

void Main_Window_Model::FormDestroy() {
    Write_Temp_Log_Or_Exit();
}

// ---- Language ----

void Main_Window_Model::Set_Captions(Language language) {
    m_face.Caption_Shown(layout::Control::kDownload, caption::kDownload.For(language));
    m_face.Caption_Shown(layout::Control::kCancel, caption::kCancel.For(language));
    m_face.Caption_Shown(layout::Control::kShowTime, caption::kShowTime.For(language));
    m_face.Caption_Shown(layout::Control::kLabel2, caption::kNewVersion.For(language));
    m_face.Caption_Shown(layout::Control::kLabel1, caption::kOldVersion.For(language));
}

// The clock button takes the plain caption whatever the clock does; the
// version fields and the status bar keep what they show.
void Main_Window_Model::Switch_Language(Language language) {
    m_panel.Set_Language(language);
    Set_Captions(language);
    m_panel.Clean_Memo();
}

// ---- Clock and status panels ----

void Main_Window_Model::Timer1Timer() {
    Print_Str_to_ToolBar(0, clock_text::Elapsed_Text(m_panel.Count_Elapsed_Seconds()));
}

void Main_Window_Model::Timer2Timer() {
    Print_Str_to_ToolBar(1, clock_text::Clock_Line(Language_Flag(), text::Time_Text_Now()));
}

void Main_Window_Model::ShowTimeClick() {
    m_clock_on = !m_clock_on;
    m_face.Timer2_Running(m_clock_on);
    if (m_clock_on) {
        // The first tick, one interval from now, fills the panel.
        m_face.Caption_Shown(layout::Control::kShowTime, caption::kClockOn.For(Language_Flag()));
    } else {
        m_face.Caption_Shown(layout::Control::kShowTime, caption::kClockOff.For(Language_Flag()));
        Print_Str_to_ToolBar(1, "");
    }
}

void Main_Window_Model::Print_Str_to_ToolBar(int panel, std::string_view text) {
    if (panel != 0 && panel != 1)
        return;  // the status bar has two panels
    m_panel_text[panel] = text::Up_To_Zero(text);
    // A panel is one line: the line feed that ends a time text is not drawn.
    std::string shown = text::Display_Utf8(m_panel_text[panel]);
    std::erase(shown, '\r');
    std::erase(shown, '\n');
    m_face.Status_Panel_Shown(panel, shown);
}

const std::string& Main_Window_Model::Panel_Text(int panel) const {
    return m_panel_text[panel == 0 ? 0 : 1];
}
