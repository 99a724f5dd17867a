// One phone's window, as a station has it: the download view that a session's
// update talks to, turning its calls into the station's events. Lines come
// out one at a time, in the station's language, escaped; the progress bar's
// positions come out as bytes of both regions; the rest of the window (its
// buttons, timer, fields) has no place in a station and is dropped, except
// the phone's old version, which its log names.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "download/download_view.h"
#include "download/firmware_image.h"

class Station_View final : public DownloadView, public ImageFileChooser, public ProgressBar {
  public:
    struct Handlers {
        std::function<void(const std::string& line)> line;
        std::function<void(std::uint64_t done, std::uint64_t total)> progress;
    };
    Station_View(Language language, std::uint64_t bytes_total, Handlers handlers);

    // The last bytes the bar reached: how far the transfer came.
    std::uint64_t Bytes_Done() const { return m_bytes_done; }
    const std::string& Phone_Version() const { return m_phone_version; }

    // ---- DownloadView ----
    void Print_Bilingual_to_Memo(const text::Bilingual& line) override;
    void Button_Control(bool) override {}
    ImageFileChooser& Image_Dialog() override { return *this; }
    ProgressBar& Progress_Bar() override { return *this; }
    void Set_Progress_Visible(bool) override {}
    void Set_Timer1_Enabled(bool) override {}
    void Set_Elapsed_Seconds(int) override {}
    // The success box of a window becomes a line: a station waits for no one.
    void Show_Message_Box(const text::Bilingual& text) override;

    // ---- MessageOutput ----
    void Print_Str_to_Memo(std::string_view text) override;
    void Print_Str_to_Tedit(std::string_view) override {}
    void Print_Str_to_OldTedit(std::string_view text) override;
    void Clean_Memo() override {}
    void Clean_Tedit() override {}
    void Clean_OldTedit() override { m_phone_version.clear(); }

    // ---- ImageFileChooser: the image was chosen before the station began ----
    std::string Choose_File() override { return {}; }

    // ---- ProgressBar ----
    void Set_Range(int minimum, int maximum) override;
    void Set_Position(int position) override;

  private:
    Language m_language;
    std::uint64_t m_bytes_total;
    Handlers m_handlers;
    bool m_range_set = false;
    int m_bar_maximum = 0;
    int m_last_position = 0;
    std::uint64_t m_bytes_done = 0;
    std::string m_phone_version;
};

// The lines of a message-area text as a station shows them: split at its
// line feeds, empty lines left out, a lone "." (the end of a time line, whose
// time text ends in a line feed) kept with the line before, every line
// escaped.
std::vector<std::string> Station_Lines(std::string_view text);
