// One line for each station event.
#include "cli/station_lines.h"

#include <cstdio>

#include "cli/port_identity_text.h"
#include "cli/station_text.h"
#include "cli/text_format.h"

namespace cli {
namespace {

std::string Seconds_Text(double seconds) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f s", seconds);
    return buffer;
}

}  // namespace

std::string Station_Lines::Line_Of(const Station_Event& event) {
    const std::string who = "phone " + std::to_string(event.phone) + " " +
                            Displayable_Text(event.port.display_name) + ": ";
    switch (event.kind) {
        case Station_Event::Kind::kArrived: {
            m_transfers[event.phone] = {};
            const std::string identity = Identity_Text(event.port.identity);
            return who + "arrived" + (identity.empty() ? "" : " (" + identity + ")");
        }
        case Station_Event::Kind::kPhase:
            return who + Station_Phase_Name(event.phase);
        case Station_Event::Kind::kProgress: {
            const int tenths = event.bytes_total == 0
                                   ? 10
                                   : static_cast<int>(event.bytes_done * 10 / event.bytes_total);
            Transfer& transfer = m_transfers[event.phone];
            if (transfer.started_seconds < 0)
                transfer.started_seconds = event.seconds;
            // The first block's line says the transfer began; then one for each tenth.
            if (transfer.tenths_shown >= 0 && tenths <= transfer.tenths_shown)
                return {};
            transfer.tenths_shown = tenths;
            // The rate over the transfer, not over the handshake and check before it.
            return who + Progress_Text(event.bytes_done, event.bytes_total,
                                       event.seconds - transfer.started_seconds);
        }
        case Station_Event::Kind::kLine:
            // Escaped by the station already; escaping again would show "\\x1b".
            return who + event.text;
        case Station_Event::Kind::kFinished: {
            std::string line = who + "finished: " + Result_Words(event.outcome);
            if (event.outcome != Download_Outcome::kUpdated && event.code != 0)
                line += ", code " + std::to_string(event.code);
            line += ", " + std::to_string(event.bytes_done) + " of " +
                    std::to_string(event.bytes_total) + " bytes in " + Seconds_Text(event.seconds);
            if (event.phone_touched && event.outcome != Download_Outcome::kUpdated)
                line += "; the phone will not start until it is updated again";
            if (!event.dump_file.empty())
                line += "; dump " + Displayable_Text(event.dump_file);
            if (!event.log_file.empty())
                line += "; log " + Displayable_Text(event.log_file);
            return line;
        }
        case Station_Event::Kind::kDeparted:
            m_transfers.erase(event.phone);
            return who + "unplugged";
        case Station_Event::Kind::kEnded:
            return "station ended";
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
