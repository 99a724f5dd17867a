// The window's message area and version fields, as the core reaches them:
// exactly the calls the update makes, nothing a window does on its own.
//
// Texts are UTF-8. A zero byte ends an appended text, as it ends a C string:
// appending a text that starts with a zero byte appends nothing.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

class MessageOutput {
  public:
    virtual ~MessageOutput() = default;
    // Appends text and a line break to the message area mReceive.
    virtual void Print_Str_to_Memo(std::string_view text) = 0;
    // Appends text to the new-version field VersionNameEdit; the update
    // hands over a whole version text at once (Version_Field_Text).
    virtual void Print_Str_to_Tedit(std::string_view text) = 0;
    // Appends text to the old-version field OldVersionNameEdit, likewise.
    virtual void Print_Str_to_OldTedit(std::string_view text) = 0;
    virtual void Clean_Memo() = 0;
    virtual void Clean_Tedit() = 0;
    virtual void Clean_OldTedit() = 0;
};

// What a version field shows of a record or a version text: its bytes
// without the zero bytes. Appended one byte at a time, each zero byte would
// append nothing; handed over whole, the text keeps every other byte.
inline std::string Version_Field_Text(std::span<const std::uint8_t> bytes) {
    std::string shown;
    for (const std::uint8_t byte : bytes) {
        if (byte != 0)
            shown.push_back(static_cast<char>(byte));
    }
    return shown;
}

// Shows nothing: for callers that have no window (benchmarks, fuzz targets,
// a command that prints its own summary). Override what you want to keep.
class Silent_Output : public MessageOutput {
  public:
    void Print_Str_to_Memo(std::string_view) override {}
    void Print_Str_to_Tedit(std::string_view) override {}
    void Print_Str_to_OldTedit(std::string_view) override {}
    void Clean_Memo() override {}
    void Clean_Tedit() override {}
    void Clean_OldTedit() override {}
};
