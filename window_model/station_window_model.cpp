// Station_Window_Model: the station's events turned into the table, and the
// window's buttons into a station's start and stop.
#include "window_model/station_window_model.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "download/clock_text.h"
#include "download/display_text.h"
#include "download/image_loader.h"
#include "download/message_output.h"
#include "download/notice_lines.h"
#include "station/station_cells.h"
#include "station/station_throughput.h"
#include "window_model/station_texts.h"

namespace {

bool At_Risk(Station_Phase phase) {
    return phase == Station_Phase::kWritingRecord || phase == Station_Phase::kRewriting;
}

}  // namespace

Station_Window_Model::Station_Window_Model(Station_Window_Face& face, std::function<void()> wake,
                                           Station_Factory factory, Station_Options options)
    : m_face(face),
      m_factory(std::move(factory)),
      m_options(std::move(options)),
      m_language(m_options.language),
      m_calls(std::move(wake)) {}

Station_Window_Model::~Station_Window_Model() {
    // Every session ends before the rows and the face go; the events they
    // still send are dropped.
    m_calls.Close();
    m_station.reset();
}

void Station_Window_Model::FormCreate() {
    Show_Captions();
    m_model = {};
    m_rows.clear();
    m_lines.clear();
    m_face.Rows_Cleared();
    Show_Buttons();
    Show_Status();
}

void Station_Window_Model::Set_Language(Language language) {
    m_language = language;
    Show_Captions();
    for (std::size_t index = 0; index < m_rows.size(); ++index) {
        Refresh_Texts(m_rows[index]);
        m_face.Row_Shown(index, m_rows[index]);
    }
    Show_Status();
}

void Station_Window_Model::Show_Captions() {
    using namespace station_text;
    m_face.Caption_Shown(Station_Caption::kTitle, kTitle.For(m_language));
    m_face.Caption_Shown(Station_Caption::kOpenImage, kOpenImage.For(m_language));
    m_face.Caption_Shown(Station_Caption::kStart, kStart.For(m_language));
    m_face.Caption_Shown(Station_Caption::kStop, kStop.For(m_language));
    m_face.Caption_Shown(Station_Caption::kSettings, kSettings.For(m_language));
    std::vector<std::string> headers;
    for (const Pair& column : {kColumnPort, kColumnIdentity, kColumnPhase, kColumnProgress,
                               kColumnRate, kColumnElapsed, kColumnResult, kColumnLastLine})
        headers.emplace_back(column.For(m_language));
    m_face.Column_Headers_Shown(headers);
}

std::vector<std::string> Split_Matches(std::string_view text) {
    std::vector<std::string> matches;
    std::string match;
    for (const char c : text) {
        if (c != ',' && c != ';' && !std::isspace(static_cast<unsigned char>(c))) {
            match += c;
        } else if (!match.empty()) {
            matches.push_back(std::move(match));
            match.clear();
        }
    }
    if (!match.empty())
        matches.push_back(std::move(match));
    return matches;
}

void Station_Window_Model::Message(std::string_view line) {
    std::string shown = text::Display_Utf8(line);
    shown += '\n';
    m_face.Message_Appended(shown);
}

// ---- Image ----

void Station_Window_Model::OpenImageClick() {
    if (Running())
        return;  // the image of a running station stays the one it was started on
    const std::optional<std::string> chosen = m_face.Choose_Image_File();
    if (!chosen || chosen->empty())
        return;  // a cancel loads nothing
    auto image = std::make_shared<Firmware_Image>();
    Notice_Lines output(m_language, [this](const std::string& line) { Message(line); });
    Fixed_Image_File file(*chosen);
    const Image_Load_Result result = Parse_File(*image, output, file);
    const std::string shown_name = text::Displayable_Text(*chosen);
    if (result == Image_Load_Result::kNotOpened) {
        Message(std::string(station_text::kImageNotOpened.For(m_language)) + shown_name);
    } else if (result != Image_Load_Result::kLoaded || !image->Loaded()) {
        Message(std::string(station_text::kImageRefused.For(m_language)) + shown_name);
    } else {
        m_image = std::move(image);
        m_image_name = shown_name;
        m_image_version = text::Displayable_Text(output.image_version);
        Message(std::string(station_text::kImageLoaded.For(m_language)) + m_image_name + "  " +
                m_image_version);
    }
    // A refused image leaves the one held before, if any, in place.
    Show_Buttons();
    Show_Status();
}

// ---- Start and stop ----

void Station_Window_Model::StartClick() {
    if (m_image == nullptr || Running())
        return;
    // Before anything of the last station is cleared: a slots file edited
    // wrong leaves the window as it was, with the reason.
    std::optional<Port_Filter> filter =
        m_port_choice ? Filter_Of(*m_port_choice) : std::optional<Port_Filter>(m_options.filter);
    if (!filter) {
        Message(station_text::kNotStarted.For(m_language));
        return;
    }
    if (m_station != nullptr)
        m_handled = m_station->Handled_Ports();
    m_station.reset();  // the last station has ended; its threads are gone
    m_files.reset();
    m_model = {};
    m_rows.clear();
    m_lines.clear();
    m_face.Rows_Cleared();
    m_ended = false;
    m_taking_phones = true;
    Station_Options options = m_options;
    options.language = m_language;
    options.handled_ports = m_handled;
    options.filter = std::move(*filter);
    const Port_Filter& taken = options.filter;
    std::string ports_taken;
    if (taken.match.empty() && !taken.only_slots)
        ports_taken = station_text::kEveryUsbPort.For(m_language);
    for (const Usb_Match& match : taken.match) {
        ports_taken += ports_taken.empty() ? station_text::kMatching.For(m_language) : ", ";
        ports_taken += match.vendor_id + ":" + (match.product_id.empty() ? "*" : match.product_id);
    }
    if (taken.only_slots)
        ports_taken += std::string(ports_taken.empty() ? "" : "; ") +
                       std::string(station_text::kSocketsOnly.For(m_language));
    if (!Port_Choice().slots_file.empty())
        ports_taken += "; " + std::to_string(taken.sockets.size()) +
                       std::string(station_text::kSocketsNamed.For(m_language)) +
                       text::Displayable_Text(Port_Choice().slots_file);
    m_started = std::chrono::steady_clock::now();
    m_station = m_factory(m_image, std::move(options), [this](const Station_Event& event) {
        m_calls.Post([this, event] { Apply(event); });
    });
    if (m_station != nullptr)
        Open_Log_Files();
    if (m_station == nullptr || !m_station->Start()) {
        m_station.reset();
        m_files.reset();
        Message(station_text::kCannotWatch.For(m_language));
    } else {
        Message(station_text::kWatching.For(m_language));
        Message(std::string(station_text::kPortsTaken.For(m_language)) + ports_taken);
        if (!m_handled.empty()) {
            std::string ports;
            for (const Port_Candidate& port : m_handled)
                ports += (ports.empty() ? "" : ", ") + text::Displayable_Text(port.display_name);
            Message(std::string(station_text::kLeftAlone.For(m_language)) + ports);
        }
    }
    Show_Buttons();
    Show_Status();
}

bool Station_Window_Model::Set_Port_Choice(const Station_Port_Choice& choice) {
    if (!Filter_Of(choice))
        return false;
    m_port_choice = choice;
    return true;
}

std::optional<Port_Filter> Station_Window_Model::Filter_Of(const Station_Port_Choice& choice) {
    Port_Filter filter;
    for (const std::string& text : choice.match) {
        const std::optional<Usb_Match> match = Parse_Usb_Match(text);
        if (!match) {
            Message(std::string(station_text::kBadMatch.For(m_language)) +
                    text::Displayable_Text(text));
            return std::nullopt;
        }
        filter.match.push_back(*match);
    }
    if (!choice.slots_file.empty()) {
        const Slots_Parse slots = Read_Slots_File(choice.slots_file);
        if (!slots.Ok()) {
            std::string where;
            if (slots.bad_line > 0)
                where = std::string(station_text::kSlotsLine.For(m_language)) +
                        std::to_string(slots.bad_line) +
                        std::string(station_text::kSlotsLineEnd.For(m_language));
            Message(std::string(station_text::kBadSlots.For(m_language)) +
                    text::Displayable_Text(choice.slots_file) + where + ": " +
                    text::Displayable_Text(slots.error) +
                    std::string(station_text::kSlotsForm.For(m_language)));
            return std::nullopt;
        }
        filter.sockets = slots.sockets;
    }
    // Only the sockets of a file that names some: with none, no port would
    // ever be taken.
    filter.only_slots = choice.only_slots && !filter.sockets.empty();
    return filter;
}

// The log folder's files follow the station as the command's do: a log per
// phone and the summaries once it ends. A folder that cannot be used is
// said, and the phones are updated without logs.
void Station_Window_Model::Open_Log_Files() {
    if (m_log_folder.empty())
        return;
    const std::string shown = text::Displayable_Text(m_log_folder);
    std::error_code error;
    std::filesystem::create_directories(m_log_folder, error);
    std::shared_ptr<platform::Private_Directory> directory;
    if (!error && std::filesystem::is_directory(m_log_folder, error))
        directory = Open_Log_Directory(m_log_folder);
    if (directory == nullptr || !Try_Write(*directory)) {
        Message(std::string(station_text::kNoLogs.For(m_language)) + shown);
        return;
    }
    m_files = std::make_unique<Station_Files>(
        std::move(directory), m_log_folder,
        Station_Records{m_language,
                        m_image ? Version_Field_Text(std::span(m_image->Image_Version)) : ""});
    m_station->Add_Observer(m_files.get());
    Message(std::string(station_text::kLogsIn.For(m_language)) + shown);
}

// The summaries the ended station left, and whatever could not be written.
void Station_Window_Model::Show_Records() {
    if (m_files == nullptr)
        return;
    Station_Summary summary;
    m_files->Fill(summary);
    const auto joined = [](const std::vector<std::string>& paths) {
        std::string text;
        for (const std::string& path : paths)
            text += (text.empty() ? "" : ", ") + text::Displayable_Text(path);
        return text;
    };
    if (!summary.summary_files.empty())
        Message(std::string(station_text::kSummaryFiles.For(m_language)) +
                joined(summary.summary_files));
    if (!summary.unwritten.empty())
        Message(std::string(station_text::kNotWritten.For(m_language)) + joined(summary.unwritten));
}

void Station_Window_Model::StopClick() {
    if (Running())
        Stop_Asking();
}

bool Station_Window_Model::May_Close() {
    if (!Running())
        return true;
    return Stop_Asking();
}

// The question comes before anything is stopped, so that "no" leaves the
// station as it was. The rows may lag the station by a few events, so the
// station has the last word: a phone it finds at risk that no question named
// is asked about before it is stopped.
bool Station_Window_Model::Stop_Asking() {
    if (m_question_open)
        return false;  // the question is on screen already

    // The phones a "yes" was for.
    std::vector<int> agreed;
    const auto covered = [&agreed](const std::vector<int>& phones) {
        return std::all_of(phones.begin(), phones.end(), [&agreed](int phone) {
            return std::find(agreed.begin(), agreed.end(), phone) != agreed.end();
        });
    };
    for (;;) {
        std::vector<int> named = Rows_At_Risk();
        if (covered(named)) {
            named = m_station->Stop_If_Harmless();
            m_taking_phones = false;
            if (covered(named)) {
                m_station->Stop();
                return true;
            }
        }
        switch (Ask_About(named)) {
            case Answer::kEnded:
                return true;  // the station ended under the question
            case Answer::kMoot:
                continue;  // the phones it named are out of danger: ask about the rest, if any
            case Answer::kNo:
                Message((m_taking_phones ? station_text::kGoingOn : station_text::kGoingOnToTheEnd)
                            .For(m_language));
                return false;
            case Answer::kYes:
                agreed.insert(agreed.end(), named.begin(), named.end());
                continue;
        }
    }
}

Station_Window_Model::Answer Station_Window_Model::Ask_About(const std::vector<int>& phones) {
    m_asked_about = phones;
    m_question_open = true;
    m_question_moot = false;
    const bool stop = m_face.Ask_Stop_Question(Question_For(phones));
    m_question_open = false;
    m_asked_about.clear();
    if (m_station == nullptr || m_ended)
        return Answer::kEnded;
    if (m_question_moot)
        return Answer::kMoot;
    return stop ? Answer::kYes : Answer::kNo;
}

std::vector<int> Station_Window_Model::Rows_At_Risk() const {
    std::vector<int> phones;
    for (const Station_Row& row : m_rows) {
        if (!row.finished && !row.gone && At_Risk(row.phase))
            phones.push_back(row.phone);
    }
    return phones;
}

std::string Station_Window_Model::Question_For(const std::vector<int>& phones) const {
    std::string question(station_text::kQuestionHead.For(m_language));
    question += '\n';
    for (const int phone : phones) {
        const auto row = std::find_if(m_rows.begin(), m_rows.end(),
                                      [phone](const Station_Row& r) { return r.phone == phone; });
        question += "  ";
        question += row != m_rows.end() ? row->port : "#" + std::to_string(phone);
        if (row != m_rows.end() && !row->identity.empty())
            question += "  (" + row->identity + ")";
        question += '\n';
    }
    question += '\n';
    question += station_text::kQuestionTail.For(m_language);
    return question;
}

// ---- Events ----

void Station_Window_Model::Apply(const Station_Event& event) {
    if (event.kind == Station_Event::Kind::kEnded) {
        m_ended = true;
        Message(station_text::kEnded.For(m_language));
        Show_Records();
        if (m_question_open) {
            m_question_moot = true;
            m_face.Dismiss_Stop_Question();
        }
        Show_Buttons();
        Show_Status();
        return;
    }
    const auto index = static_cast<std::size_t>(m_model.Apply(event));
    if (index == m_rows.size()) {
        m_rows.emplace_back();
        m_lines.emplace_back();
    }
    Station_Row& row = m_rows[index];
    // The row's phase becomes kGone: whether it went at risk is known only now.
    if (event.kind == Station_Event::Kind::kDeparted && !row.finished && !row.gone &&
        At_Risk(row.phase))
        row.unplugged_at_risk = true;
    // The row model's part; the window keeps its own time of the event and
    // its own copy of the lines, shown as a window shows texts.
    static_cast<Station_Phone_Row&>(row) = m_model.Rows()[index];
    row.event_time = std::chrono::steady_clock::now();
    std::deque<std::string>& lines = m_lines[index];
    if (event.kind == Station_Event::Kind::kLine) {
        lines.push_back(text::Displayable_Text(event.text));
        if (lines.size() > kMaxLinesPerPhone)
            lines.pop_front();
        m_face.Row_Line_Appended(index, lines.back() + "\n");
    }
    if (!row.skipped)  // a skipped row's last line is why it was skipped
        row.last_line = lines.empty() ? std::string() : lines.back();
    Refresh_Texts(row);
    m_face.Row_Shown(index, row);
    if (event.kind == Station_Event::Kind::kFinished)
        Show_Finished(row);
    if (event.kind == Station_Event::Kind::kFinished && State_Of(row) == Station_Row_State::kFailed)
        m_face.Phone_Failed(index);
    Follow_Question(event);
    if (event.kind == Station_Event::Kind::kArrived ||
        event.kind == Station_Event::Kind::kFinished ||
        event.kind == Station_Event::Kind::kDeparted)
        Show_Status();
}

// A phone at risk that finished (or went) leaves the question on screen,
// which is rewritten; once none it named is left, it is taken away.
void Station_Window_Model::Follow_Question(const Station_Event& event) {
    if (!m_question_open || m_question_moot ||
        (event.kind != Station_Event::Kind::kFinished &&
         event.kind != Station_Event::Kind::kDeparted))
        return;
    const auto left = std::remove_if(m_asked_about.begin(), m_asked_about.end(), [this](int phone) {
        return std::any_of(m_rows.begin(), m_rows.end(), [phone](const Station_Row& r) {
            return r.phone == phone && (r.finished || r.gone);
        });
    });
    if (left == m_asked_about.end())
        return;
    m_asked_about.erase(left, m_asked_about.end());
    if (m_asked_about.empty()) {
        m_question_moot = true;
        m_face.Dismiss_Stop_Question();
    } else {
        m_face.Stop_Question_Changed(Question_For(m_asked_about));
    }
}

// A phone that ended unable to start says so in the message area too, where
// it is seen whichever row is selected.
void Station_Window_Model::Show_Finished(const Station_Row& row) {
    if (row.phone_touched && row.outcome != Download_Outcome::kUpdated && !row.no_phone)
        Message(row.port + std::string(station_text::kWillNotStartLine.For(m_language)));
}

void Station_Window_Model::Tick(std::chrono::steady_clock::time_point now) {
    for (std::size_t index = 0; index < m_rows.size(); ++index) {
        Station_Row& row = m_rows[index];
        if (row.finished || row.gone || row.skipped || now < row.event_time)
            continue;
        const double since = std::chrono::duration<double>(now - row.event_time).count();
        std::string elapsed = clock_text::Elapsed_Text(static_cast<int>(row.seconds + since));
        if (elapsed == row.elapsed_text)
            continue;
        row.elapsed_text = std::move(elapsed);
        m_face.Row_Shown(index, row);
    }
}

void Station_Window_Model::Refresh_Texts(Station_Row& row) const {
    using namespace station_text;
    row.port_text = row.slot.empty() ? row.port : row.slot + "  " + row.port;
    if (row.skipped) {
        // A port that is no phone's: never opened, so nothing else to show.
        row.phase_text = kSkippedPhase.For(m_language);
        row.result_text = std::string(kSkipped.For(m_language)) + " (" + row.last_line + ")";
        return;
    }
    row.phase_text = Phase_Words(row.phase, m_language);
    row.percent = row.bytes_total == 0
                      ? (row.finished && row.outcome == Download_Outcome::kUpdated ? 100 : 0)
                      : static_cast<int>(
                            std::min<std::uint64_t>(100, row.bytes_done * 100 / row.bytes_total));
    // The rate over the whole session: the handshake and the check are part
    // of what a phone costs on the line.
    row.rate_text = Rate_Cell(row.bytes_done, row.seconds);
    row.elapsed_text = clock_text::Elapsed_Text(static_cast<int>(row.seconds));
    if (row.finished && row.no_phone) {
        row.result_text = kNoPhone.For(m_language);
    } else if (row.finished) {
        switch (row.outcome) {
            case Download_Outcome::kUpdated:
                row.result_text = kUpdated.For(m_language);
                break;
            case Download_Outcome::kStopped:
                row.result_text = kStopped.For(m_language);
                break;
            default:
                row.result_text = kFailed.For(m_language);
                if (row.code != 0)
                    row.result_text += " (" + std::to_string(row.code) + ")";
                break;
        }
        if (row.phone_touched && row.outcome != Download_Outcome::kUpdated)
            row.result_text += kWillNotStart.For(m_language);
    } else if (row.gone) {
        // Unplugged while its flash was being rewritten: its end will say
        // how, but the warning cannot wait for it.
        row.result_text = kUnpluggedEarly.For(m_language);
        if (row.unplugged_at_risk)
            row.result_text += kWillNotStart.For(m_language);
    } else {
        row.result_text.clear();
    }
    row.advice_text.clear();
    if (row.finished && row.outcome != Download_Outcome::kUpdated)
        row.advice_text = Advice_Words(row.advice).For(m_language);
}

// ---- Buttons and status ----

int Station_Window_Model::Updated() const {
    return m_model.Counts().updated;
}

int Station_Window_Model::Failed() const {
    return m_model.Counts().failed;
}

int Station_Window_Model::Working() const {
    return m_model.Counts().working;
}

void Station_Window_Model::Show_Buttons() {
    const bool running = Running();
    m_face.Buttons_Enabled(!running, !running && m_image != nullptr, running);
}

void Station_Window_Model::Show_Status() {
    using namespace station_text;
    m_status = std::string(kCountUpdated.For(m_language)) + std::to_string(Updated()) +
               std::string(kCountFailed.For(m_language)) + std::to_string(Failed()) +
               std::string(kCountRunning.For(m_language)) + std::to_string(Working());
    const std::string throughput = Throughput_Text(
        Throughput_Of(
            m_model.Rows(),
            std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count()),
        m_language);
    if (!throughput.empty())
        m_status += "  " + throughput;
    if (m_records_waiting > 0)
        m_status +=
            "  " + std::to_string(m_records_waiting) + std::string(kRecordsWaiting.For(m_language));
    if (m_image != nullptr)
        m_status += std::string(kImage.For(m_language)) + m_image_name;
    else
        m_status += kNoImage.For(m_language);
    m_face.Status_Shown(m_status);
}

void Station_Window_Model::Set_Records_Waiting(int waiting) {
    if (waiting == m_records_waiting)
        return;
    m_records_waiting = waiting;
    Show_Status();
}
