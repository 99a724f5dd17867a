// The download command's view on the worker thread: every call is carried to
// the window's own view through a View_Call_Queue, in order, so that the
// window's controls are only ever touched on the window's thread.
//
// Calls that only show something are posted and the worker goes on. Calls
// that answer something (the file the user chose, the language, the closed
// completion box) wait for the window. The progress bar's values are kept
// here as well, so that the flash programming reads them without a round
// trip; every change is posted on to the window's bar.
#pragma once

#include <string>

#include "download/download_view.h"
#include "download/view_call_queue.h"

class Queued_View final : public DownloadView {
  public:
    Queued_View(DownloadView& window_view, View_Call_Queue& queue);

    // MessageOutput
    void Print_Str_to_Memo(std::string_view text) override;
    void Print_Str_to_Tedit(std::string_view text) override;
    void Print_Str_to_OldTedit(std::string_view text) override;
    void Print_Str_to_ToolBar(int panel, std::string_view text) override;
    void Clean_Memo() override;
    void Clean_Tedit() override;
    void Clean_OldTedit() override;

    // DownloadView
    void Button_Control(bool enable) override;
    ImageFileChooser& Image_Dialog() override { return m_dialog; }
    ProgressBar& Progress_Bar() override { return m_progress; }
    void Set_Progress_Visible(bool visible) override;
    void Set_Timer1_Enabled(bool enabled) override;
    void Set_Elapsed_Seconds(int seconds) override;
    // Waits until the user has closed the box (or the window is closing).
    void Show_Message_Box(std::string_view text) override;
    // The window's language at this moment; Chinese once the window is closing.
    Language Language_Flag() const override;

  private:
    class Queued_Dialog final : public ImageFileChooser {
      public:
        explicit Queued_Dialog(Queued_View& view) : m_view(view) {}
        // The dialog's answer; no file once the window is closing.
        std::string Choose_File() override;

      private:
        Queued_View& m_view;
    };

    class Progress_Model final : public ProgressBar {
      public:
        explicit Progress_Model(Queued_View& view) : m_view(view) {}
        int minimum() const override { return m_minimum; }
        int maximum() const override { return m_maximum; }
        int step() const override { return m_step; }
        int position() const override { return m_position; }
        void set_minimum(int value) override;
        void set_maximum(int value) override;
        void set_step(int value) override;
        void set_position(int value) override;

      private:
        Queued_View& m_view;
        int m_minimum = 0;
        int m_maximum = 100;
        int m_step = 1;
        int m_position = 0;
    };

    DownloadView& m_window;
    View_Call_Queue& m_queue;
    Queued_Dialog m_dialog{*this};
    Progress_Model m_progress{*this};
};
