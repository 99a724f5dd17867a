// TForm1: the main window. It creates its controls from the layout table under
// the names the rest of the program uses (Download, mReceive, TeProgressBar1,
// ...), is the download command's view (called on the window's thread only),
// speaks Chinese or English, and runs the elapsed-time and clock timers of
// the status bar.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "download/clock_text.h"
#include "download/download_view.h"
#include "winapp/fonts.h"
#include "winapp/hidden_menu.h"
#include "winapp/open_dialog.h"
#include "winapp/progress_bar.h"
#include "winapp/run_download.h"

class TForm2;

class TForm1 final : public DownloadView {
  public:
    TForm1(HINSTANCE instance, const Font_Set& fonts);
    ~TForm1() override;
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    HWND Handle() const { return m_window; }
    void Set_Version_Window(TForm2* form2) { m_form2 = form2; }

    // ---- Message output ----
    void Print_Str_to_Memo(std::string_view text) override;
    void Print_Str_to_Tedit(std::string_view text) override;
    void Print_Str_to_OldTedit(std::string_view text) override;
    void Print_Str_to_ToolBar(int panel, std::string_view text) override;
    void Clean_Memo() override;
    void Clean_Tedit() override;
    void Clean_OldTedit() override;

    // ---- What the download command uses ----
    void Button_Control(bool enable) override;
    ImageFileChooser& Image_Dialog() override { return m_open_dialog; }
    ProgressBar& Progress_Bar() override { return m_progress; }
    void Set_Progress_Visible(bool visible) override;
    void Set_Timer1_Enabled(bool enabled) override;
    void Set_Elapsed_Seconds(int seconds) override;
    void Show_Message_Box(std::string_view text) override;
    Language Language_Flag() const override { return m_language_flag; }

  private:
    static LRESULT CALLBACK Window_Procedure(HWND window, UINT message, WPARAM w, LPARAM l);
    LRESULT Handle_Message(UINT message, WPARAM w, LPARAM l);
    void Create_Controls();

    // Handlers, named after their control and event.
    void FormCreate();
    void FormClose();
    bool Ask_Stop_Update();
    void FormDestroy();
    void On_Command(int id);
    void DownloadClick();
    void CancelClick();
    void ShowTimeClick();
    void EnglishClick();
    void ChineseClick();
    void About1_oldClick();
    void Timer1Timer();
    void Timer2Timer();

    void Set_Captions(Language language);
    HWND Control(int id) const { return GetDlgItem(m_window, id); }
    // Sets a control's text in the font that draws it (fonts.h).
    void Set_Control_Text(int id, std::wstring_view text);
    void Show_Version_Field(int id, const std::string& bytes);

    HINSTANCE m_instance;
    const Font_Set& m_fonts;
    HWND m_window = nullptr;
    Win32_Progress_Bar m_progress;
    Open_Dialog m_open_dialog;
    Window_Download m_download;
    Hidden_Menu m_menu;
    TForm2* m_form2 = nullptr;  // not owned
    Language m_language_flag = Language::kChinese;
    int m_elapsed_seconds = 0;
    clock_text::Elapsed_Clock m_elapsed;  // Elapsed_Seconds, from a steady clock
    bool m_timer2_running = false;
    bool m_memo_in_han_font = false;
    HWND m_focus = nullptr;  // the control that had the keys when the window lost them
    std::wstring m_panel_text[2];
    // The version fields' bytes as appended; the fields show them decoded.
    std::string m_new_version;
    std::string m_old_version;
};
