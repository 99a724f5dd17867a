// An update's report kept as lines, for a caller with no message area: each
// notice as its line in one language (notice_texts.h), and the version text
// the image claims. The command line's info and station commands and the
// station window load their image through it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "bootloader/update_report.h"
#include "download/message_output.h"
#include "download/notice_texts.h"

class Notice_Lines final : public report::Update_Observer {
  public:
    // Each line is also handed to on_line, as it comes, where one is given.
    explicit Notice_Lines(Language language, std::function<void(const std::string&)> on_line = {})
        : m_language(language), m_on_line(std::move(on_line)) {}

    void On_Event(const report::Update_Event& event) override {
        using Kind = report::Update_Event::Kind;
        if (event.kind == Kind::kNotice) {
            lines.push_back(text::Notice_Single_Line(event.notice, m_language));
            if (m_on_line)
                m_on_line(lines.back());
        } else if (event.kind == Kind::kImageHeader) {
            image_version.clear();
        } else if (event.kind == Kind::kImageVersion) {
            image_version = Version_Field_Text(event.bytes);
        }
    }
    void On_Bytes(std::uint64_t, std::uint64_t) override {}

    std::vector<std::string> lines;
    std::string image_version;  // as the version field shows it

  private:
    Language m_language;
    std::function<void(const std::string&)> m_on_line;
};
