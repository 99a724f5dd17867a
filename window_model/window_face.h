// What a window shows of the window model, as it binds its controls to it.
// The model calls these on the window's thread whenever what they show
// changes; data goes one way, from the model to the controls. Texts are valid
// UTF-8, ready to show; memo lines end in "\n".
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "window_model/layout.h"

// One phone's update: the message area, the two version fields, the buttons,
// the progress bar, the elapsed-time timer and the two boxes of an update.
class Panel_Face {
  public:
    enum class Field { kNewVersion, kOldVersion };

    virtual ~Panel_Face() = default;
    virtual void Memo_Appended(std::string_view text) = 0;
    virtual void Memo_Cleared() = 0;
    virtual void Field_Shown(Field field, std::string_view text) = 0;
    // Download and Cancel together.
    virtual void Buttons_Enabled(bool enabled) = 0;
    // A range with minimum below maximum, and a position inside it.
    virtual void Progress_Shown(int minimum, int maximum, int position) = 0;
    virtual void Progress_Visible(bool visible) = 0;
    // While it runs, the window calls the model's Timer1Timer once a second.
    virtual void Timer1_Running(bool running) = 0;
    // The file-open dialog, starting on the file chosen last: the file the
    // user chose, in the form the C library opens, or nothing for a cancel.
    virtual std::optional<std::string> Choose_Image_File() = 0;
    // The modal completion box; returns when the user has closed it.
    virtual void Show_Completion_Box(std::string_view text) = 0;
    // The stop question (see Phone_Panel::May_Close) is on screen and the
    // update has ended under it: take it away, answered as "no".
    virtual void Dismiss_Stop_Question() = 0;
};

// The main window: the panel's parts, the captions that follow the language,
// the status bar's panels and the clock's timer.
class Main_Window_Face : public Panel_Face {
  public:
    virtual void Caption_Shown(layout::Control control, std::string_view caption) = 0;
    // Status panel 0 or 1, one line.
    virtual void Status_Panel_Shown(int panel, std::string_view text) = 0;
    // While it runs, the window calls the model's Timer2Timer once a second.
    virtual void Timer2_Running(bool running) = 0;
};
