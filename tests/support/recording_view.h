// The window as the download command sees it, for the tests that run the
// command without a window. Every call lands in one log, in order, so that
// tests can check the order of the steps across controls; the memo, the
// version fields, the boxes and the bar are kept as a window would show them,
// texts of both languages in the view's language.
#pragma once

#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "download/download_view.h"

class Recording_View final : public DownloadView, public ImageFileChooser, public ProgressBar {
  public:
    // ---- DownloadView ----
    void Print_Bilingual_to_Memo(const text::Bilingual& line) override {
        Print_Str_to_Memo(line.For(language));
    }
    void Button_Control(bool enable) override {
        Log(std::string("buttons ") + (enable ? "on" : "off"));
        buttons_enabled = enable;
    }
    ImageFileChooser& Image_Dialog() override { return *this; }
    ProgressBar& Progress_Bar() override { return *this; }
    void Set_Progress_Visible(bool visible) override {
        Log(std::string("bar ") + (visible ? "shown" : "hidden"));
        bar_visible = visible;
    }
    void Set_Timer1_Enabled(bool enabled) override {
        Log(std::string("timer1 ") + (enabled ? "on" : "off"));
        timer1_on = enabled;
    }
    void Set_Elapsed_Seconds(int seconds) override { Log("elapsed " + std::to_string(seconds)); }
    void Show_Message_Box(const text::Bilingual& text) override {
        boxes.push_back(text.For(language));
        Log("box " + boxes.back());
    }

    // ---- MessageOutput ----
    void Print_Str_to_Memo(std::string_view text) override {
        memo.emplace_back(Until_Zero(text));
        Log("memo " + memo.back());
        if (on_memo_line)
            on_memo_line(memo.back());
    }
    void Print_Str_to_Tedit(std::string_view text) override { new_version += Until_Zero(text); }
    void Print_Str_to_OldTedit(std::string_view text) override { old_version += Until_Zero(text); }
    void Clean_Memo() override {
        memo.clear();
        Log("clean memo");
    }
    void Clean_Tedit() override { new_version.clear(); }
    void Clean_OldTedit() override {
        old_version.clear();
        Log("clean old");
    }

    // ---- ImageFileChooser ----
    std::string Choose_File() override { return file_name; }

    // ---- ProgressBar ----
    void Set_Range(int minimum, int maximum) override {
        bar_min = minimum;
        bar_max = maximum;
    }
    void Set_Position(int position) override {
        bar_position = position;
        bar_out_of_range = bar_out_of_range || position < bar_min || position > bar_max;
        if (position == 0)
            Log("bar at 0");
        if (on_position)
            on_position(position);
    }

    // Index of the first log entry starting with prefix, or -1.
    int Find(std::string_view prefix) const {
        for (std::size_t i = 0; i < log.size(); ++i) {
            if (log[i].starts_with(prefix))
                return static_cast<int>(i);
        }
        return -1;
    }
    int Count(std::string_view prefix) const {
        return static_cast<int>(std::count_if(
            log.begin(), log.end(), [&](const std::string& e) { return e.starts_with(prefix); }));
    }
    bool Idle() const { return buttons_enabled && !timer1_on; }
    bool Memo_Has(std::string_view line) const {
        return std::find(memo.begin(), memo.end(), line) != memo.end();
    }
    // The memo's lines joined, for a failure message.
    std::string Memo_Text() const {
        std::string all;
        for (const auto& line : memo)
            all += line + " | ";
        return all;
    }

    std::vector<std::string> log;
    std::vector<std::string> memo;
    std::vector<std::string> boxes;
    // Run after each message line and bar move (a test's hand on the command
    // in flight).
    std::function<void(const std::string& line)> on_memo_line;
    std::function<void(int position)> on_position;
    // Calls that came on another thread than the one that made the view.
    int calls_on_other_threads = 0;
    std::string new_version, old_version, file_name;
    Language language = Language::kChinese;
    bool buttons_enabled = true, bar_visible = false, timer1_on = false;
    bool bar_out_of_range = false;
    int bar_min = 0, bar_max = 100, bar_position = 37;

  private:
    static std::string Until_Zero(std::string_view text) {
        return std::string(text.substr(0, text.find('\0')));
    }
    void Log(std::string entry) {
        if (std::this_thread::get_id() != m_owner)
            ++calls_on_other_threads;
        log.push_back(std::move(entry));
    }
    std::thread::id m_owner = std::this_thread::get_id();
};
