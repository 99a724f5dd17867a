// The message area as the update reaches it: the calls of MessageOutput, and
// lines given in both languages, of which the window shows the one of its own
// language when the line arrives (the update never asks the window which).
#pragma once

#include <string_view>

#include "download/message_output.h"
#include "download/texts.h"

class Update_Output : public MessageOutput {
  public:
    virtual void Print_Bilingual_to_Memo(const text::Bilingual& line) = 0;
};

// A message area of one fixed language (the command-line tool's --lang, a
// test's choice): bilingual lines are shown in that language, the rest passes.
class One_Language_Output final : public Update_Output {
  public:
    One_Language_Output(MessageOutput& output, Language language)
        : m_output(output), m_language(language) {}
    void Print_Bilingual_to_Memo(const text::Bilingual& line) override {
        m_output.Print_Str_to_Memo(line.For(m_language));
    }
    void Print_Str_to_Memo(std::string_view text) override { m_output.Print_Str_to_Memo(text); }
    void Print_Str_to_Tedit(std::string_view text) override { m_output.Print_Str_to_Tedit(text); }
    void Print_Str_to_OldTedit(std::string_view text) override {
        m_output.Print_Str_to_OldTedit(text);
    }
    void Clean_Memo() override { m_output.Clean_Memo(); }
    void Clean_Tedit() override { m_output.Clean_Tedit(); }
    void Clean_OldTedit() override { m_output.Clean_OldTedit(); }

  private:
    MessageOutput& m_output;
    Language m_language;
};
