// Phone_Panel: one phone's update as a window shows it, free of any toolkit.
// It runs the download command on its own worker (Update_Runner) and is the
// command's view on the window's thread: it keeps what the message area, the
// version fields, the buttons, the progress bar and the elapsed time show,
// and tells its Panel_Face each change. The main window holds one; a window
// that updates several phones holds one for each.
//
// What a window sees of an update is decided here, once for every window:
//  - texts of both languages are shown in the panel's language;
//  - version fields show bytes that are not text as escapes ("\xff");
//  - a cancelled file dialog loads nothing, so it never writes a phone;
//  - when an update ends, however it ended, the bar is hidden and empty;
//  - closing while the phone is at risk asks first, and a question that the
//    update's end made pointless is taken away before the completion box.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "bootloader/comport.h"
#include "download/clock_text.h"
#include "download/download_view.h"
#include "download/update_runner.h"
#include "window_model/window_face.h"

class Phone_Panel final : public DownloadView, private ImageFileChooser, private ProgressBar {
  public:
    // wake may run on the worker's thread or the window's: it must make the
    // window's thread call Run_Pending_Calls soon. port: the phone's port (the
    // platform's own by default).
    Phone_Panel(Panel_Face& face, std::function<void()> wake,
                std::unique_ptr<CComport> port = std::make_unique<CComport>());

    // ---- The window's side ----
    // The download button: starts an update unless one runs.
    void DownloadClick() { m_runner.Start(); }
    void Run_Pending_Calls() { m_runner.Run_Pending_Calls(); }
    // The language texts of both languages are shown in from now on.
    void Set_Language(Language language) { m_language = language; }
    Language Language_Flag() const { return m_language; }
    // The seconds Timer1 has counted, brought up to now (a late tick still
    // shows the seconds that have passed).
    int Count_Elapsed_Seconds();
    int Elapsed_Seconds() const { return m_elapsed_seconds; }

    // Whether a close request may close the window now. With no update
    // running, or one that stops without harm (it is stopped), at once. While
    // the phone's flash is being rewritten, ask_user is asked the question in
    // the panel's language; "yes" stops the update. A request while the
    // question is on screen, or a question the update's end took away, keeps
    // the window open.
    bool May_Close(const std::function<bool(std::string_view question)>& ask_user);
    // The program is about to end: the worker finishes without calling on
    // the window again.
    void Finish_Before_Exit() { m_runner.Finish_Before_Exit(); }

    // What the panel shows, for the window's tests and other views.
    const std::string& Memo() const { return m_memo; }
    bool Buttons_On() const { return m_buttons_on; }
    bool Timer1_On() const { return m_elapsed.Running(); }
    Update_Runner& Runner() { return m_runner; }
    CComport& Comport() { return m_runner.Port(); }

    // ---- MessageOutput and DownloadView: the update's calls ----
    void Print_Str_to_Memo(std::string_view text) override;
    void Print_Str_to_Tedit(std::string_view text) override;
    void Print_Str_to_OldTedit(std::string_view text) override;
    void Clean_Memo() override;
    void Clean_Tedit() override;
    void Clean_OldTedit() override;
    void Print_Bilingual_to_Memo(const text::Bilingual& line) override;
    void Button_Control(bool enable) override;
    ImageFileChooser& Image_Dialog() override { return *this; }
    ProgressBar& Progress_Bar() override { return *this; }
    void Set_Progress_Visible(bool visible) override;
    void Set_Timer1_Enabled(bool enabled) override;
    void Set_Elapsed_Seconds(int seconds) override;
    void Show_Message_Box(const text::Bilingual& text) override;

  private:
    // ImageFileChooser
    std::string Choose_File() override;
    // ProgressBar
    void Set_Range(int minimum, int maximum) override;
    void Set_Position(int position) override;

    void Show_Field(Panel_Face::Field field, const std::string& bytes);
    void Show_Progress();
    void Take_Away_Question();

    Panel_Face& m_face;
    Update_Runner m_runner;
    Language m_language = Language::kChinese;
    std::string m_memo;
    std::string m_new_version;  // the fields' bytes as appended
    std::string m_old_version;
    bool m_buttons_on = true;
    int m_bar_minimum = 0;
    int m_bar_maximum = 100;
    int m_bar_position = 0;
    bool m_bar_visible = false;
    clock_text::Elapsed_Clock m_elapsed;
    int m_elapsed_seconds = 0;
    bool m_question_open = false;
    bool m_question_moot = false;
};
