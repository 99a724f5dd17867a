// What the download command needs from the window, kept free of any toolkit.
// Data goes one way: the command tells the window what to show and asks it
// only for the image file and for the completion box to be closed. The
// window model (window_model/) implements it for both windows; the
// command-line tool implements it over the terminal.
#pragma once

#include <string_view>

#include "download/firmware_image.h"
#include "download/progress_bar.h"
#include "download/texts.h"
#include "download/update_output.h"

// Print_Bilingual_to_Memo (Update_Output): a memo line that follows the
// window's language, shown in the language the window has when it arrives.
class DownloadView : public Update_Output {
  public:
    // Sets Download.Enabled, then Cancel.Enabled.
    virtual void Button_Control(bool enable) = 0;
    // OpenDialog1.
    virtual ImageFileChooser& Image_Dialog() = 0;
    // TeProgressBar1: its range and position, and whether it is shown.
    virtual ProgressBar& Progress_Bar() = 0;
    virtual void Set_Progress_Visible(bool visible) = 0;
    // Timer1 drives the elapsed-time display; Elapsed_Seconds is its count.
    virtual void Set_Timer1_Enabled(bool enabled) = 0;
    virtual void Set_Elapsed_Seconds(int seconds) = 0;
    // Modal box with an OK button, in the window's language; returns when the
    // user has closed it.
    virtual void Show_Message_Box(const text::Bilingual& text) = 0;
};
