// Main_Window_Model: the main window Form1 free of any toolkit. It holds the
// phone's panel (Phone_Panel) and adds what is the main window's own: the
// language and the captions that follow it, the clock button and its line in
// status panel 1, the elapsed time in status panel 0, and the window's
// start, close and end. Its handlers keep the design's names; the Qt and the
// Win32 window call them from their controls' events and show what the
// model tells their Main_Window_Face.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "window_model/phone_panel.h"
#include "window_model/window_face.h"

class Main_Window_Model {
  public:
    // wake: as for Phone_Panel. The model calls face only from FormCreate on.
    Main_Window_Model(Main_Window_Face& face, std::function<void()> wake,
                      std::unique_ptr<CComport> port = std::make_unique<CComport>());

    // The start state: elapsed time 0, both timers stopped, Chinese captions,
    // an empty message area.
    void FormCreate();
    // Asked to close (the close button, Cancel, a termination signal). True
    // when the window closes: the update's worker has ended, temp.log is
    // written and the port closed, and the caller ends the process. False
    // when it stays open (Phone_Panel::May_Close).
    bool FormClose(const std::function<bool(std::string_view question)>& ask_user);
    // The window is being destroyed: temp.log once more; the port is left.
    void FormDestroy();

    void DownloadClick() { m_panel.DownloadClick(); }
    void EnglishClick() { Switch_Language(Language::kEnglish); }
    void ChineseClick() { Switch_Language(Language::kChinese); }
    void ShowTimeClick();
    void Timer1Timer();
    void Timer2Timer();

    // Replaces the text of status panel 0 or 1 (the timers' own way of
    // showing their texts); another index changes nothing.
    void Print_Str_to_ToolBar(int panel, std::string_view text);
    // A panel's text as last set (the panel shows it on one line).
    const std::string& Panel_Text(int panel) const;

    Language Language_Flag() const { return m_panel.Language_Flag(); }
    bool Clock_On() const { return m_clock_on; }
    Phone_Panel& Panel() { return m_panel; }

  private:
    void Switch_Language(Language language);
    void Set_Captions(Language language);

    Main_Window_Face& m_face;
    Phone_Panel m_panel;
    bool m_clock_on = false;
    std::string m_panel_text[2];
};
