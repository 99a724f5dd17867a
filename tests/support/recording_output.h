// A MessageOutput that keeps everything it is given, for tests of code that
// talks to the user through the window's message area and version fields.
//
// The appended fields follow the window's rule that a zero byte ends an
// appended text; the raw calls are kept as well.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "download/message_output.h"

class RecordingOutput final : public MessageOutput {
  public:
    std::vector<std::string> memo;             // one entry per line appended to mReceive
    std::string tedit;                         // VersionNameEdit as it reads now
    std::string old_tedit;                     // OldVersionNameEdit as it reads now
    std::vector<std::string> old_tedit_calls;  // each text handed to Print_Str_to_OldTedit
    int memo_cleared = 0;
    int tedit_cleared = 0;
    int old_tedit_cleared = 0;

    void Print_Str_to_Memo(std::string_view text) override { memo.emplace_back(Up_To_Zero(text)); }
    void Print_Str_to_Tedit(std::string_view text) override { tedit += Up_To_Zero(text); }
    void Print_Str_to_OldTedit(std::string_view text) override {
        old_tedit_calls.emplace_back(text);
        old_tedit += Up_To_Zero(text);
    }
    void Clean_Memo() override {
        memo.clear();
        ++memo_cleared;
    }
    void Clean_Tedit() override {
        tedit.clear();
        ++tedit_cleared;
    }
    void Clean_OldTedit() override {
        old_tedit.clear();
        ++old_tedit_cleared;
    }

  private:
    static std::string_view Up_To_Zero(std::string_view text) {
        return text.substr(0, text.find('\0'));
    }
};
