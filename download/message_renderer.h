// The update's report as a window shows it: each event becomes the calls of
// the window's message area, version fields, progress bar, timer and buttons
// (DownloadView) that the update has always made, in the same order. The two
// windows, the command-line tool's terminal and the tests' recording views
// are DownloadViews and see the update through it.
//
// The bar is drawn from the bytes: its range is the transfer's total (an int
// range: a larger total is scaled), its position the bytes sent, and it goes
// back to empty when the last block is in, as the design's bar does.
#pragma once

#include <cstdint>

#include "bootloader/update_report.h"
#include "download/download_view.h"

// The texts alone: notices as message lines (a line that follows the
// window's language goes out in both, Print_Bilingual_to_Memo) and the
// version fields. For a caller with a message area and no window around it
// (the image loader's callers, a station's phone); the success box becomes a
// line.
class Message_Area_Renderer final : public report::Update_Observer {
  public:
    explicit Message_Area_Renderer(Update_Output& output) : m_output(output) {}

    void On_Event(const report::Update_Event& event) override;
    void On_Bytes(std::uint64_t, std::uint64_t) override {}

  private:
    Update_Output& m_output;
};

// The whole window.
class Message_Renderer final : public report::Update_Observer {
  public:
    explicit Message_Renderer(DownloadView& view) : m_view(view), m_area(view) {}

    void On_Event(const report::Update_Event& event) override;
    void On_Bytes(std::uint64_t done, std::uint64_t total) override;

  private:
    DownloadView& m_view;
    Message_Area_Renderer m_area;
};

// A progress bar drawn from an update's bytes alone: for a caller that has a
// bar and no window (a test of the port object, a benchmark).
class Progress_Bar_Renderer final : public report::Update_Observer {
  public:
    explicit Progress_Bar_Renderer(ProgressBar& bar) : m_bar(bar) {}
    void On_Event(const report::Update_Event&) override {}
    void On_Bytes(std::uint64_t done, std::uint64_t total) override;

  private:
    ProgressBar& m_bar;
};
