// The live table of the station command.
#include "cli/station_table.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "cli/station_text.h"
#include "cli/text_format.h"
#include "station/station_cells.h"
#include "station/station_throughput.h"
#include "station/station_words.h"

namespace cli {
namespace {

// Whether a code point takes two columns: the wide East Asian blocks.
bool Is_Wide(std::uint32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

// Walks the characters of valid UTF-8 (the table holds escaped texts only).
template <typename Visit>
void For_Each_Character(const std::string& text, Visit visit) {
    for (std::size_t at = 0; at < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[at]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        std::uint32_t c = length == 1 ? lead : lead & (0x3F >> (length - 1));
        for (std::size_t i = 1; i < length && at + i < text.size(); ++i)
            c = (c << 6) | (static_cast<unsigned char>(text[at + i]) & 0x3F);
        if (!visit(at, std::min(length, text.size() - at), Is_Wide(c) ? 2u : 1u))
            return;
        at += length;
    }
}

std::string Pad(const std::string& text, std::size_t columns) {
    const std::string cut = Cut_To_Columns(text, columns);
    return cut + std::string(columns - Display_Columns(cut), ' ');
}

// The headings: the terminal's capitals in English, the station window's
// column words in Chinese.
using station_text::Pair;
constexpr std::array<Pair, 8> kHeadings{{
    {"#", "#"},
    {"PORT", station_text::kColumnPort.chinese},
    {"DEVICE", station_text::kColumnIdentity.chinese},
    {"PHASE", station_text::kColumnPhase.chinese},
    {"%", station_text::kColumnProgress.chinese},
    {"RATE", station_text::kColumnRate.chinese},
    {"ELAPSED", station_text::kColumnElapsed.chinese},
    {"RESULT / MESSAGE", "結果 / 最後訊息"},
}};

constexpr Pair kSlotHeading{"SLOT", "插座"};
constexpr std::size_t kPortColumn = 2;
constexpr std::size_t kDeviceColumn = 3;
// What the result or message keeps before the device column grows into it.
constexpr std::size_t kResultRoom = 30;

// The device cell's "@1-1.3:1.0": where on the bus; empty when it has none.
std::string Usb_Path_Part(const std::string& cell) {
    const std::size_t at = cell.rfind('@');
    return at == std::string::npos ? std::string() : cell.substr(at);
}

// The device cell in its column: what gives way is its numbers and serial
// number, never where on the bus it is.
std::string Fit_Device(const std::string& cell, std::size_t columns) {
    const std::string path = Usb_Path_Part(cell);
    if (Display_Columns(cell) <= columns || path.empty() || Display_Columns(path) > columns)
        return Pad(cell, columns);
    std::string front = cell.substr(0, cell.size() - path.size());
    const std::size_t room = columns - Display_Columns(path);
    front = room >= 2 ? Cut_To_Columns(front, room - 1) : std::string();
    while (!front.empty() && front.back() == ' ')
        front.pop_back();
    return Pad(front.empty() ? path : front + " " + path, columns);
}

std::string Elapsed(double seconds) {
    return Elapsed_Text(static_cast<long long>(seconds));
}

}  // namespace

std::size_t Display_Columns(const std::string& text) {
    std::size_t columns = 0;
    For_Each_Character(text, [&](std::size_t, std::size_t, unsigned width) {
        columns += width;
        return true;
    });
    return columns;
}

std::string Cut_To_Columns(const std::string& text, std::size_t columns) {
    std::size_t used = 0;
    std::size_t end = 0;
    For_Each_Character(text, [&](std::size_t at, std::size_t length, unsigned width) {
        if (used + width > columns)
            return false;
        used += width;
        end = at + length;
        return true;
    });
    return text.substr(0, end);
}

void Station_Table::Show(const Station_Event& event) {
    const int index = m_model.Apply(event);
    if (index < 0)
        return;
    m_last_event.resize(m_model.Rows().size());
    m_last_event[static_cast<std::size_t>(index)] = Clock::now();
    m_changed = true;
}

std::string Station_Table::Result_Cell(const Station_Phone_Row& row) const {
    if (!row.finished) {
        if (row.gone)
            return std::string(station_text::kUnpluggedEarly.For(m_language));
        return row.last_line;
    }
    if (row.no_phone)
        return std::string(station_text::kNoPhone.For(m_language)) + "; " +
               std::string(station_text::kNoPhoneAdvice.For(m_language));
    std::string result = Result_Words(row.outcome, m_language);
    if (row.outcome != Download_Outcome::kUpdated && row.code > 0)
        result += " (" + Code_Words(row.code, m_language) + ")";
    // What to do with it; an updated phone needs no more than its phase says.
    if (row.outcome != Download_Outcome::kUpdated)
        result += std::string(text::By_Language(m_language, ": ", ":")) +
                  std::string(Advice_Words(row.advice).For(m_language));
    return result;
}

void Station_Table::Notice(std::string text) {
    m_notice = std::move(text);
    m_changed = true;
}

std::vector<std::string> Station_Table::Lines(Clock::time_point now) const {
    // The cells first; each column as wide as its widest cell (up to a cap,
    // so that a long port name leaves room for the rest), the result or
    // message in what is left of the width. The slot column is there only
    // when a slots file names a socket.
    using Cells = std::array<std::string, 9>;
    std::vector<Cells> table;
    Cells& headings = table.emplace_back();
    headings[0] = kSlotHeading.For(m_language);
    for (std::size_t column = 1; column < headings.size(); ++column)
        headings[column] = kHeadings[column - 1].For(m_language);
    const std::vector<Station_Phone_Row>& rows = m_model.Rows();
    bool slots = false;
    for (std::size_t index = 0; index < rows.size(); ++index) {
        const Station_Phone_Row& row = rows[index];
        slots = slots || !row.slot.empty();
        if (row.skipped) {
            // Nothing of a phone to show: why it was skipped follows its device.
            table.push_back(
                {row.slot, "", row.port, row.identity, "", "", "", "",
                 std::string(station_text::kSkipped.For(m_language)) + " (" + row.last_line + ")"});
            continue;
        }
        double seconds = row.seconds;
        if (State_Of(row) == Station_Row_State::kWorking)
            seconds += std::chrono::duration<double>(now - m_last_event[index]).count();
        table.push_back(
            {row.slot, std::to_string(row.phone), row.port, row.identity,
             Phase_Words(row.phase, m_language),
             row.bytes_total == 0 ? ""
                                  : std::to_string(row.bytes_done * 100 / row.bytes_total) + "%",
             row.transfer_started < 0 ? "" : Rate_Or_Dashes(row.bytes_done, row.transfer_seconds),
             Elapsed(seconds), Result_Cell(row)});
    }
    static constexpr std::array<std::size_t, 8> kCaps{12, 4, 24, 22, 18, 4, 12, 9};
    std::array<std::size_t, 8> widths{};
    for (const Cells& cells : table) {
        for (std::size_t column = 0; column < widths.size(); ++column) {
            std::size_t cap = kCaps[column];
            // Where on the bus is never cut: the socket a phone is in.
            if (column == kDeviceColumn)
                cap = std::max(cap, Display_Columns(Usb_Path_Part(cells[column])));
            widths[column] =
                std::max(widths[column], std::min(Display_Columns(cells[column]), cap));
        }
    }
    if (!slots)
        widths[0] = 0;
    const std::size_t width = static_cast<std::size_t>(std::max(m_width, 20)) - 1;
    // A wide terminal shows more of the device before the result takes the rest.
    std::size_t device_whole = 0;
    for (const Cells& cells : table)
        device_whole = std::max(device_whole, Display_Columns(cells[kDeviceColumn]));
    std::size_t all_columns = 0;
    for (const std::size_t column_width : widths)
        all_columns += column_width == 0 ? 0 : column_width + 2;
    if (all_columns + kResultRoom < width)
        widths[kDeviceColumn] =
            std::min(device_whole, widths[kDeviceColumn] + (width - all_columns - kResultRoom));
    // On a narrow terminal the port column gives way before the device's.
    std::size_t through_device = 0;
    for (std::size_t column = 0; column <= kDeviceColumn; ++column)
        through_device += widths[column] == 0 ? 0 : widths[column] + 2;
    if (through_device > width) {
        const std::size_t excess = through_device - width;
        widths[kPortColumn] -=
            std::min(excess, widths[kPortColumn] - std::min<std::size_t>(widths[kPortColumn], 4));
    }
    std::vector<std::string> lines;
    for (const Cells& cells : table) {
        std::string line;
        const bool skipped = &cells != &table.front() && cells[1].empty();
        for (std::size_t column = 0; column < widths.size(); ++column) {
            if ((widths[column] == 0 && column == 0) || (skipped && column > kDeviceColumn))
                continue;
            line += (column == kDeviceColumn ? Fit_Device(cells[column], widths[column])
                                             : Pad(cells[column], widths[column])) +
                    "  ";
        }
        line = Cut_To_Columns(line + cells.back(), width);
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        lines.push_back(line);
    }
    // The notice is for reading whole: wrapped, not cut.
    std::vector<std::string> notice;
    for (std::string rest = m_notice; !rest.empty();) {
        const std::string piece = Cut_To_Columns(rest, width);
        notice.push_back(piece);
        rest.erase(0, piece.empty() ? rest.size() : piece.size());
    }
    std::string footer = Throughput_Text(
        Throughput_Of(rows, std::chrono::duration<double>(now - m_started).count()), m_language);
    if (m_records_waiting > 0)
        footer += std::string(footer.empty() ? "" : "; ") + std::to_string(m_records_waiting) +
                  std::string(station_text::kRecordsWaiting.For(m_language));
    if (!footer.empty())
        notice.insert(notice.begin(), Cut_To_Columns(footer, width));
    if (m_colour) {
        for (std::size_t index = 0; index < rows.size(); ++index) {
            const Station_Row_State state = State_Of(rows[index]);
            const char* colour = state == Station_Row_State::kFailed    ? "\x1b[31m"
                                 : state == Station_Row_State::kUpdated ? "\x1b[32m"
                                                                        : nullptr;
            if (colour != nullptr)
                lines[index + 1] = colour + lines[index + 1] + "\x1b[0m";
        }
    }
    // One row of the terminal stays free for the cursor below the table.
    if (m_height > 0) {
        const std::size_t room = static_cast<std::size_t>(std::max(m_height - 1, 3));
        const std::size_t fit = room > notice.size() + 2 ? room - notice.size() - 2 : 1;
        if (rows.size() > fit)
            Hide_Rows(lines, rows.size() - fit, width);
    }
    lines.insert(lines.end(), notice.begin(), notice.end());
    return lines;
}

// Rows that give way on a short terminal, in this order: what needs nothing
// more from anyone first, a failure last. Oldest first within a kind.
void Station_Table::Hide_Rows(std::vector<std::string>& lines, std::size_t hidden,
                              std::size_t width) const {
    constexpr Station_Row_State kGiveWay[] = {
        Station_Row_State::kUpdated, Station_Row_State::kSkipped, Station_Row_State::kNoPhone,
        Station_Row_State::kStopped, Station_Row_State::kWorking, Station_Row_State::kFailed};
    const std::vector<Station_Phone_Row>& rows = m_model.Rows();
    std::vector<bool> hide(rows.size(), false);
    std::array<std::size_t, std::size(kGiveWay)> hidden_of{};
    std::size_t left = hidden;
    for (std::size_t kind = 0; kind < std::size(kGiveWay) && left > 0; ++kind) {
        for (std::size_t index = 0; index < rows.size() && left > 0; ++index) {
            if (State_Of(rows[index]) != kGiveWay[kind])
                continue;
            hide[index] = true;
            ++hidden_of[kind];
            --left;
        }
    }
    constexpr text::Word_Pair kKindWords[] = {{"updated", "已更新"},  {"skipped", "已略過"},
                                              {"no phone", "無手機"}, {"stopped", "已停止"},
                                              {"working", "進行中"},  {"failed", "失敗"}};
    std::string counted;
    for (std::size_t kind = 0; kind < std::size(kGiveWay); ++kind) {
        if (hidden_of[kind] == 0)
            continue;
        if (!counted.empty())
            counted += text::By_Language(m_language, ", ", "、");
        counted +=
            std::to_string(hidden_of[kind]) + " " + std::string(kKindWords[kind].For(m_language));
    }
    std::vector<std::string> kept{lines.front()};
    kept.push_back(
        Cut_To_Columns(std::string(text::By_Language(m_language, "(not shown: " + counted + ")",
                                                     "(未顯示:" + counted + ")")),
                       width));
    for (std::size_t index = 0; index < rows.size(); ++index) {
        if (!hide[index])
            kept.push_back(lines[index + 1]);
    }
    kept.insert(kept.end(), lines.begin() + 1 + static_cast<long>(rows.size()), lines.end());
    lines = std::move(kept);
}

void Station_Table::Resize(int width, int height) {
    if (width == m_width && height == m_height)
        return;
    m_width = width;
    m_height = height;
    m_clear = true;
    m_changed = true;
}

void Station_Table::Redraw_If_Due(Clock::time_point now) {
    if (now - m_last_draw < kTableRedrawInterval)
        return;
    const bool running = m_model.Counts().working > 0;
    if (!m_changed && !(running && now - m_last_draw >= std::chrono::seconds(1)))
        return;
    Draw(now);
}

void Station_Table::Finish(Clock::time_point now) {
    Draw(now);
}

void Station_Table::Draw(Clock::time_point now) {
    const std::vector<std::string> lines = Lines(now);
    std::string frame;
    // Back to the first line of the last table, then each line over the old
    // one, erasing what is left of it, and whatever was below.
    if (m_clear)
        frame += "\x1b[H\x1b[2J";
    else if (m_lines_drawn > 0)
        frame += "\r\x1b[" + std::to_string(m_lines_drawn) + "A";
    m_clear = false;
    for (const std::string& line : lines)
        frame += line + "\x1b[K\n";
    frame += "\x1b[J";
    std::fputs(frame.c_str(), m_out);
    std::fflush(m_out);
    m_lines_drawn = lines.size();
    m_last_draw = now;
    m_changed = false;
}

}  // namespace cli
