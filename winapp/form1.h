// TForm1: the main window in Win32. It creates its controls from the layout
// table (window_model/layout.h), with the ids the table gives them, and binds
// them to the window model: their messages call the model's handlers, and
// the model's changes come back through the Main_Window_Face this window
// implements. The window adds only what is Win32's: the controls and their
// fonts, the timers, the dialogs and the boxes.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "winapp/fonts.h"
#include "winapp/hidden_menu.h"
#include "winapp/open_dialog.h"
#include "window_model/main_window_model.h"

class TForm2;

class TForm1 final : private Main_Window_Face {
  public:
    // Posted to the window when the update's worker has queued calls on it.
    static constexpr UINT kRunPendingCalls = WM_APP + 1;

    TForm1(HINSTANCE instance, const Font_Set& fonts);
    ~TForm1() override;
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    HWND Handle() const { return m_window; }
    void Set_Version_Window(TForm2* form2) { m_form2 = form2; }
    // The command each update runs, for the observers the program adds.
    Download_Command& Command() { return m_model.Panel().Runner().Command(); }
    // A line in the message area, for what the program says beside the update.
    void Show_Message(std::string_view line) { Memo_Appended(std::string(line) + "\n"); }

  private:
    template <class Form>
    friend LRESULT CALLBACK Form_Window_Procedure(HWND window, UINT message, WPARAM w, LPARAM l);
    LRESULT Handle_Message(UINT message, WPARAM w, LPARAM l);
    void Create_Controls();
    void On_Command(int id);
    void FormClose();
    void About1_oldClick();

    HWND Control(layout::Control control) const {
        return GetDlgItem(m_window, static_cast<int>(control));
    }
    // Sets a control's text in the font that draws it (fonts.h).
    void Set_Control_Text(layout::Control control, std::wstring_view text);

    // ---- Main_Window_Face ----
    void Caption_Shown(layout::Control control, std::string_view caption) override;
    void Memo_Appended(std::string_view text) override;
    void Memo_Cleared() override;
    void Field_Shown(Field field, std::string_view text) override;
    void Status_Panel_Shown(int panel, std::string_view text) override;
    void Buttons_Enabled(bool enabled) override;
    void Progress_Shown(int minimum, int maximum, int position) override;
    void Progress_Visible(bool visible) override;
    void Timer1_Running(bool running) override;
    void Timer2_Running(bool running) override;
    std::optional<std::string> Choose_Image_File() override { return m_open_dialog.Choose(); }
    void Show_Completion_Box(std::string_view text) override;
    void Dismiss_Stop_Question() override;

    HINSTANCE m_instance;
    const Font_Set& m_fonts;
    HWND m_window = nullptr;
    Main_Window_Model m_model;
    Open_Dialog m_open_dialog;
    Hidden_Menu m_menu;
    TForm2* m_form2 = nullptr;  // not owned
    bool m_memo_in_han_font = false;
    HWND m_focus = nullptr;  // the control that had the keys when the window lost them
    std::wstring m_panel_text[2];
};
