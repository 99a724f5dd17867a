// The station window's face as its tests see it: what the model shows is
// recorded for the rows to assert on, and the modal parts (the file dialog,
// the stop question) answer as the test scripts them. Where the build has a
// real window (the Win32 form under Wine), every other call is passed on to
// it too, and a probe reads its controls back against the recording, so the
// same rows check that window's binding.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "window_model/station_window_model.h"

namespace test_support {

struct Recording_Station_Face final : Station_Window_Face {
    void Caption_Shown(Station_Caption caption, std::string_view text) override {
        captions[caption] = text;
        if (view)
            view->Caption_Shown(caption, text);
    }
    void Column_Headers_Shown(const std::vector<std::string>& shown) override {
        headers = shown;
        if (view)
            view->Column_Headers_Shown(shown);
    }
    void Buttons_Enabled(bool open, bool start, bool stop) override {
        open_on = open;
        start_on = start;
        stop_on = stop;
        if (view)
            view->Buttons_Enabled(open, start, stop);
    }
    void Row_Shown(std::size_t index, const Station_Row& row) override {
        ASSERT_LE(index, rows.size());  // a new row is one past the last
        if (index == rows.size())
            rows.push_back(row);
        else
            rows[index] = row;
        percents[row.phone].push_back(row.percent);
        if (view)
            view->Row_Shown(index, row);
    }
    void Rows_Cleared() override {
        rows.clear();
        row_lines.clear();  // as a window forgets the phones' messages with their rows
        if (view)
            view->Rows_Cleared();
    }
    void Phone_Failed(std::size_t index) override {
        if (view)
            view->Phone_Failed(index);
    }
    void Row_Line_Appended(std::size_t index, std::string_view line) override {
        row_lines[index] += line;
        if (view)
            view->Row_Line_Appended(index, line);
    }
    void Status_Shown(std::string_view text) override {
        status = text;
        if (view)
            view->Status_Shown(text);
    }
    void Message_Appended(std::string_view text) override {
        messages += text;
        if (view)
            view->Message_Appended(text);
    }
    std::optional<std::string> Choose_Image_File() override {
        ++dialogs;
        return chosen;
    }
    bool Ask_Stop_Question(std::string_view question) override {
        questions.emplace_back(question);
        question_shows = true;
        if (while_asked)
            while_asked();
        const bool answer = question_shows && answer_yes;
        question_shows = false;
        return answer;
    }
    void Dismiss_Stop_Question() override {
        question_shows = false;
        ++dismissed;
    }
    void Stop_Question_Changed(std::string_view question) override {
        changed_questions.emplace_back(question);
    }

    std::map<Station_Caption, std::string> captions;
    std::vector<std::string> headers;
    bool open_on = false, start_on = false, stop_on = false;
    std::vector<Station_Row> rows;
    std::map<int, std::vector<int>> percents;
    std::map<std::size_t, std::string> row_lines;
    std::string status, messages;
    std::optional<std::string> chosen;
    int dialogs = 0;
    std::vector<std::string> questions;
    bool question_shows = false, answer_yes = false;
    int dismissed = 0;
    std::vector<std::string> changed_questions;
    std::function<void()> while_asked;
    // The window whose controls are shown the same, where the build has one.
    Station_Window_Face* view = nullptr;
};

// The real window beside the recording; which one is the build's choice
// (none natively, where only the recording is checked).
class Station_View_Under_Test {
  public:
    virtual ~Station_View_Under_Test() = default;
    virtual Station_Window_Face& Face() = 0;
    // The model the window's controls drive and read the phones' messages of.
    virtual void Bind(Station_Window_Model& model) = 0;
    // Fails the test where a control does not show what the recording holds.
    virtual void Check_Shows(const Recording_Station_Face& recorded) = 0;
};

// Nothing where the build has no window to check.
std::unique_ptr<Station_View_Under_Test> Make_Station_View_Under_Test();

}  // namespace test_support
