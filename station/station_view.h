// One phone's update, as a station follows it: the update's report turned
// into what the station's events carry. Notices become lines in the
// station's language (one line each, escaped), the bytes sent and the steps
// are passed on, the phone's version as read is kept for its log.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "bootloader/update_report.h"
#include "download/texts.h"

class Station_View final : public report::Update_Observer {
  public:
    struct Handlers {
        std::function<void(const report::Notice_Event& notice, const std::string& line)> line;
        std::function<void(std::uint64_t done, std::uint64_t total)> progress;
        std::function<void(report::Step step)> step;
    };
    Station_View(Language language, Handlers handlers);

    // The bytes the phone took: how far the transfer came.
    std::uint64_t Bytes_Done() const { return m_bytes_done; }
    // The phone's record as read (or taken from its dump), as its field shows it.
    const std::string& Phone_Version() const { return m_phone_version; }
    const std::vector<std::uint8_t>& Phone_Record() const { return m_phone_record; }
    const std::vector<std::uint8_t>& Record_Written() const { return m_record_written; }
    // Whether a step failed because the line went away (the phone was unplugged).
    bool Hung_Up() const { return m_hung_up; }

    void On_Event(const report::Update_Event& event) override;
    void On_Bytes(std::uint64_t done, std::uint64_t total) override;

  private:
    Language m_language;
    Handlers m_handlers;
    std::uint64_t m_bytes_done = 0;
    std::string m_phone_version;
    std::vector<std::uint8_t> m_phone_record;
    std::vector<std::uint8_t> m_record_written;
    bool m_hung_up = false;
};
