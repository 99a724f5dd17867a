// One line for each station event.
#include "cli/station_lines.h"

#include <cstdio>

#include "cli/port_identity_text.h"
#include "cli/station_text.h"
#include "cli/text_format.h"
#include "station/station_words.h"

namespace cli {
namespace {

std::string Seconds_Text(double seconds) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f", seconds);
    return buffer;
}

}  // namespace

std::string Station_Lines::Line_Of(const Station_Event& event) {
    const Language language = m_language;
    const auto words = [language](std::string_view english, std::string_view chinese) {
        return std::string(text::By_Language(language, english, chinese));
    };
    const int index = m_model.Apply(event);
    if (index < 0)
        return words("station ended", "更新站已結束");
    const Station_Phone_Row& row = m_model.Rows()[static_cast<std::size_t>(index)];
    // The socket's label first, where the slots file names one.
    const std::string slot = row.slot.empty() ? std::string() : row.slot + " ";
    if (event.kind == Station_Event::Kind::kSkipped)
        return slot + Displayable_Text(event.port.display_name) + ": " +
               std::string(station_text::kSkipped.For(language)) + " (" + event.text + ")";
    const std::string who = slot + Phone_Words(event.phone, language) + " " +
                            Displayable_Text(event.port.display_name) + ": ";
    switch (event.kind) {
        case Station_Event::Kind::kArrived: {
            m_tenths_shown[event.phone] = -1;
            const std::string identity = Identity_Text(event.port.identity);
            return who + Phase_Words(Station_Phase::kArrived, language) +
                   (identity.empty() ? "" : " (" + identity + ")");
        }
        case Station_Event::Kind::kPhase:
            return who + Phase_Words(event.phase, language);
        case Station_Event::Kind::kProgress: {
            const int tenths = event.bytes_total == 0
                                   ? 10
                                   : static_cast<int>(event.bytes_done * 10 / event.bytes_total);
            const auto shown = m_tenths_shown.try_emplace(event.phone, -1).first;
            // The first block's line says the transfer began; then one for each tenth.
            if (shown->second >= 0 && tenths <= shown->second)
                return {};
            shown->second = tenths;
            // The rate over the transfer, not over the handshake and check before it.
            return who + Progress_Text(event.bytes_done, event.bytes_total, row.transfer_seconds);
        }
        case Station_Event::Kind::kLine:
            // Escaped by the station already; escaping again would show "\\x1b".
            return who + event.text;
        case Station_Event::Kind::kFinished: {
            if (event.no_phone)
                return who + Phase_Words(Station_Phase::kFinished, language) + ": " +
                       std::string(station_text::kNoPhone.For(language)) + "; " +
                       std::string(station_text::kNoPhoneAdvice.For(language));
            const bool failed = event.outcome != Download_Outcome::kUpdated;
            std::string line = who + Phase_Words(Station_Phase::kFinished, language) + ": " +
                               Result_Words(event.outcome, language);
            if (failed && event.code > 0)
                line += words(", ", ",") + Code_Words(event.code, language);
            const std::string done = std::to_string(event.bytes_done);
            const std::string total = std::to_string(event.bytes_total);
            const std::string seconds = Seconds_Text(event.seconds);
            line += words(", " + done + " of " + total + " bytes in " + seconds + " s",
                          "," + seconds + " 秒內送出 " + done + " / " + total + " 位元組");
            if (failed)
                line += words("; ", ";") +
                        std::string(Advice_Words(Advice_For(Ending_Of(event))).For(language));
            if (!event.dump_file.empty())
                line += words("; dump ", ";備份 ") + Displayable_Text(event.dump_file);
            if (!event.log_file.empty())
                line += words("; log ", ";記錄 ") + Displayable_Text(event.log_file);
            return line;
        }
        case Station_Event::Kind::kDeparted:
            m_tenths_shown.erase(event.phone);
            return who + words("unplugged", Phase_Words(Station_Phase::kGone, language));
        case Station_Event::Kind::kEnded:
        case Station_Event::Kind::kSkipped:
            break;
    }
    return {};
}

void Station_Lines::Show(const Station_Event& event) {
    const std::string line = Line_Of(event);
    if (line.empty())
        return;
    std::fputs(line.c_str(), m_out);
    std::fputc('\n', m_out);
    std::fflush(m_out);
}

}  // namespace cli
