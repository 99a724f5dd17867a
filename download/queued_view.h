// The download command's view on the worker thread: every call is carried to
// the window's own view through a View_Call_Queue, in order, so that the
// window's controls are only ever touched on the window's thread.
//
// Calls that only show something are posted and the worker goes on; texts in
// both languages travel whole, and the window picks one when it shows them.
// Two calls wait for the window: the file the user chose and the closed
// completion box.
//
// The bar's position moves with every block; waking the window's thread for
// each would cost the transfer a thread switch per block. The latest position
// is kept instead, and a call that shows it is posted only when none is
// queued and the last went out at least kBarInterval ago. An empty bar (the
// transfer's start and end) always goes out in its place, so the bar ends
// where the transfer did.
#pragma once

#include <atomic>
#include <chrono>
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
    void Clean_Memo() override;
    void Clean_Tedit() override;
    void Clean_OldTedit() override;

    // DownloadView
    void Print_Bilingual_to_Memo(const text::Bilingual& line) override;
    void Button_Control(bool enable) override;
    ImageFileChooser& Image_Dialog() override { return m_dialog; }
    ProgressBar& Progress_Bar() override { return m_progress; }
    void Set_Progress_Visible(bool visible) override;
    void Set_Timer1_Enabled(bool enabled) override;
    void Set_Elapsed_Seconds(int seconds) override;
    // Waits until the user has closed the box (or the window is closing).
    void Show_Message_Box(const text::Bilingual& text) override;

  private:
    class Queued_Dialog final : public ImageFileChooser {
      public:
        explicit Queued_Dialog(Queued_View& view) : m_view(view) {}
        // The dialog's answer; no file once the window is closing.
        std::string Choose_File() override;

      private:
        Queued_View& m_view;
    };

    class Queued_Progress final : public ProgressBar {
      public:
        static constexpr std::chrono::milliseconds kBarInterval{50};

        explicit Queued_Progress(Queued_View& view) : m_view(view) {}
        void Set_Range(int minimum, int maximum) override;
        void Set_Position(int position) override;

      private:
        Queued_View& m_view;
        std::atomic<int> m_latest{0};
        std::atomic<bool> m_queued{false};                    // a call showing m_latest is queued
        std::chrono::steady_clock::time_point m_last_post{};  // the worker's alone
    };

    DownloadView& m_window;
    View_Call_Queue& m_queue;
    Queued_Dialog m_dialog{*this};
    Queued_Progress m_progress{*this};
};
