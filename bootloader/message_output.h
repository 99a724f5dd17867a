// The window's message area and version fields, as the core reaches them.
//
// Texts are UTF-8. A zero byte ends an appended text, as it ends a C string:
// appending a text that starts with a zero byte appends nothing.
#pragma once

#include <string_view>

class MessageOutput {
  public:
    virtual ~MessageOutput() = default;
    // Appends text and a line break to the message area mReceive.
    virtual void Print_Str_to_Memo(std::string_view text) = 0;
    // Appends text to the new-version field VersionNameEdit.
    virtual void Print_Str_to_Tedit(std::string_view text) = 0;
    // Appends text to the old-version field OldVersionNameEdit.
    virtual void Print_Str_to_OldTedit(std::string_view text) = 0;
    // Replaces the text of status-bar panel 0 or 1.
    virtual void Print_Str_to_ToolBar(int panel, std::string_view text) = 0;
    virtual void Clean_Memo() = 0;
    virtual void Clean_Tedit() = 0;
    virtual void Clean_OldTedit() = 0;
};

// Shows nothing: for callers that have no window (benchmarks, fuzz targets,
// a command that prints its own summary). Override what you want to keep.
class Silent_Output : public MessageOutput {
  public:
    void Print_Str_to_Memo(std::string_view) override {}
    void Print_Str_to_Tedit(std::string_view) override {}
    void Print_Str_to_OldTedit(std::string_view) override {}
    void Print_Str_to_ToolBar(int, std::string_view) override {}
    void Clean_Memo() override {}
    void Clean_Tedit() override {}
    void Clean_OldTedit() override {}
};
