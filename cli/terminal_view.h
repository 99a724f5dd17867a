// The download command's window, drawn on a terminal.
//
// Memo lines go to standard output, one line each, as UTF-8. The two version
// fields are shown as labelled lines once they are filled. Everything passes
// Displayable_Text on its way out: no control character from the image, the
// phone or a port's name reaches the terminal. The progress bar is
// a line on standard error that redraws itself in place, shown only when
// standard error is a terminal. The completion box is a plain line, and the
// elapsed time that the window's Timer1 would show is measured here.
#pragma once

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "download/captions.h"
#include "download/clock_text.h"
#include "download/download_view.h"

namespace cli {

class TerminalView : public DownloadView {
  public:
    // out: memo and fields; err: the progress line, drawn only when
    // draw_progress is set (the caller checks that err is a terminal).
    TerminalView(std::string image_path, Language language_flag, std::FILE* out, std::FILE* err,
                 bool draw_progress);

    // MessageOutput
    void Print_Str_to_Memo(std::string_view text) override;
    void Print_Str_to_Tedit(std::string_view text) override;
    void Print_Str_to_OldTedit(std::string_view text) override;
    void Clean_Memo() override {}
    void Clean_Tedit() override;
    void Clean_OldTedit() override;

    // DownloadView: texts of both languages in the one of --lang.
    void Print_Bilingual_to_Memo(const text::Bilingual& line) override;
    void Button_Control(bool) override {}
    ImageFileChooser& Image_Dialog() override { return m_chooser; }
    ProgressBar& Progress_Bar() override { return m_progress; }
    void Set_Progress_Visible(bool visible) override;
    void Set_Timer1_Enabled(bool enabled) override;
    void Set_Elapsed_Seconds(int seconds) override;
    void Show_Message_Box(const text::Bilingual& text) override;

    // Shows version fields that changed since they were last shown.
    void Flush_Fields();
    // Ends a progress line that is on show, so other output starts on a fresh line.
    void End_Progress_Line();
    // Seconds Timer1 ran, or nothing when the command never started it.
    std::optional<long long> Elapsed_Seconds() const;
    // The memo's lines as the command wrote them, oldest first.
    const std::vector<std::string>& Memo_Lines() const { return m_memo; }

  private:
    using Chooser = Fixed_Image_File;

    // What the progress line shows: the range and position it was told.
    class TerminalProgress final : public ProgressBar {
      public:
        explicit TerminalProgress(TerminalView& view) : m_view(view) {}
        // A new range starts a new transfer (Progress_Init).
        void Set_Range(int minimum, int maximum) override;
        void Set_Position(int position) override;

      private:
        TerminalView& m_view;
        int m_minimum = 0;
        int m_maximum = 100;
        int m_position = 0;
        // The bar goes back to its minimum when the last block is accepted;
        // the terminal keeps showing it full instead.
        bool m_wrapped = false;
        friend class TerminalView;
    };

    struct Field {
        std::string text;
        bool shown = true;  // nothing new to show
    };

    void Draw_Progress(bool force);
    void Show_Field(const caption::Pair& caption, Field& field);

    Chooser m_chooser;
    TerminalProgress m_progress{*this};
    Language m_language_flag;
    std::FILE* m_out;
    std::FILE* m_err;
    bool m_draw_progress;
    bool m_progress_visible = false;
    bool m_progress_on_screen = false;
    std::vector<std::string> m_memo;
    Field m_new_version;
    Field m_old_version;
    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> m_progress_start;  // the transfer's start
    Clock::time_point m_last_draw{};
    clock_text::Elapsed_Clock m_elapsed;
    bool m_timer1_used = false;
};

}  // namespace cli
