// The station's log files and summaries, created through the platform layer
// so that each is new and this user's own.
#include "station/station_files.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>
#include <vector>

#include "download/display_text.h"
#include "platform/files.h"
#include "platform/local_time.h"
#include "station/station_cells.h"
#include "station/station_rows.h"
#include "station/utc_text.h"

namespace {

// How many numbered alternatives a taken name gets before the file is given up.
constexpr int kFileNameAlternatives = 100;
constexpr std::size_t kPortFilePartLength = 48;

std::string Local_Time_Text() {
    const std::tm local = platform::Local_Time(std::time(nullptr));
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

std::string Join_Path(const std::string& directory, const std::string& name) {
    return (std::filesystem::path(directory) / name).string();
}

// Whether all of text reached the file: a full disk shows at the write, the
// flush or the close.
bool Write_All(std::FILE* file, const std::string& text) {
    const bool written =
        std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
    return std::fclose(file) == 0 && written;
}

std::string Seconds_Text(double seconds) {
    char text[32] = {};
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

}  // namespace

std::string Port_File_Part(const std::string& display_name) {
    std::string_view name = display_name;
    const std::size_t slash = name.find_last_of("/\\");
    if (slash != std::string_view::npos)
        name.remove_prefix(slash + 1);
    std::string part;
    for (const char c : name.substr(0, kPortFilePartLength)) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        part += plain ? c : '_';
    }
    if (part.empty() || part.front() == '.')
        part.insert(part.begin(), '_');
    return part;
}

std::FILE* Create_Station_File(platform::Private_Directory& directory, const std::string& stem,
                               const std::string& extension, std::string& path) {
    path.clear();
    std::error_code ignored;
    for (int n = 1; n <= kFileNameAlternatives; ++n) {
        const std::string name = stem + (n == 1 ? "" : "-" + std::to_string(n)) + extension;
        if (std::FILE* file = directory.Create_New_File(name)) {
            path = Join_Path(directory.Path(), name);
            return file;
        }
        // Anything else than a name that is taken will not get better with
        // another name. (Looked at by name: it only decides whether to try
        // the next one.)
        if (!std::filesystem::exists(
                std::filesystem::symlink_status(Join_Path(directory.Path(), name), ignored)))
            return nullptr;
    }
    return nullptr;
}

std::shared_ptr<platform::Private_Directory> Open_Log_Directory(const std::string& path) {
    std::error_code ignored;
    std::filesystem::path absolute = std::filesystem::absolute(path, ignored).lexically_normal();
    if (!absolute.has_filename())
        absolute = absolute.parent_path();  // "logs/"
    std::filesystem::create_directories(absolute, ignored);
    return platform::Private_Directory::Open(absolute.string());
}

bool Try_Write(platform::Private_Directory& directory) {
    std::string path;
    std::FILE* file = Create_Station_File(directory, ".write-test", "", path);
    if (file == nullptr)
        return false;
    const bool written = Write_All(file, "-");
    directory.Remove(std::filesystem::path(path).filename().string());
    return written;
}

Phone_Log::Phone_Log(platform::Private_Directory& directory, int phone, const Port_Candidate& port,
                     const std::string& slot) {
    char number[16] = {};
    std::snprintf(number, sizeof number, "%03d", phone);
    m_file = Create_Station_File(
        directory, "phone-" + std::string(number) + "-" + Port_File_Part(port.display_name), ".log",
        m_path);
    if (m_file == nullptr)
        return;
    if (!slot.empty())
        Write("slot " + text::Displayable_Text(slot));
    Write("phone " + std::to_string(phone));
    Write("port " + text::Displayable_Text(port.display_name));
    if (port.identity.Known())
        Write("device " + Identity_Text(port.identity));
    Write("arrived " + Local_Time_Text());
}

Phone_Log::~Phone_Log() {
    if (m_file != nullptr)
        std::fclose(m_file);
}

void Phone_Log::Line(std::string_view text) {
    if (m_file != nullptr)
        Write(Local_Time_Text() + "  " + std::string(text));
}

void Phone_Log::Result(const Station_Phone_Result& result, Language language) {
    if (m_file == nullptr)
        return;
    if (!result.phone_version.empty())
        Write("phone version " + text::Displayable_Text(result.phone_version));
    Write("result " + std::string(Station_Outcome_Name(result.outcome)) + ", code " +
          std::to_string(result.code) + ", " + std::to_string(result.bytes) + " bytes, " +
          Seconds_Text(result.seconds) + " s");
    Write("advice " + std::string(Advice_Words(Advice_For(Ending_Of(result))).For(language)));
    if (!result.dump_file.empty())
        Write("dump " + text::Displayable_Text(result.dump_file));
    Write("ended " + Local_Time_Text());
}

void Phone_Log::Write(std::string_view text) {
    const bool written = std::fwrite(text.data(), 1, text.size(), m_file) == text.size() &&
                         std::fputc('\n', m_file) != EOF;
    // Flushed: a log read while the station runs, or after a crash.
    if (std::fflush(m_file) != 0 || !written)
        m_failed = true;
}

std::string Csv_Field(std::string_view text) {
    const bool formula =
        !text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@');
    if (!formula && text.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(text);
    std::string out = formula ? "\"'" : "\"";
    for (const char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + "\"";
}

namespace {

struct Row_Texts {
    std::string port, usb_path, usb_id, serial, dump, log, version_before, version_after, advice;
};
Row_Texts Texts_Of(const Station_Phone_Result& row, const Station_Records& records) {
    const Port_Identity& id = row.port.identity;
    return {text::Displayable_Text(row.port.display_name),
            text::Displayable_Text(id.usb_path),
            id.Is_Usb() ? text::Displayable_Text(id.usb_vendor_id + ":" + id.usb_product_id) : "",
            text::Displayable_Text(id.usb_serial),
            text::Displayable_Text(row.dump_file),
            text::Displayable_Text(row.log_file),
            text::Displayable_Text(row.phone_version),
            text::Displayable_Text(Version_After(row, records)),
            std::string(Advice_Words(Advice_For(Ending_Of(row))).For(records.language))};
}

// The file's first line, without its line break.
std::string First_Line(std::FILE* file) {
    std::string line;
    if (std::fseek(file, 0, SEEK_SET) != 0)
        return line;
    for (int c = std::fgetc(file); c != EOF && c != '\n'; c = std::fgetc(file))
        line += static_cast<char>(c);
    return line;
}

// The CSV file of the summaries: this user's own summary.csv with the same
// columns, to be added to; else a new one at the first free name. Null when
// none could be had; new says whether it needs its header.
std::FILE* Summary_Csv_File(platform::Private_Directory& directory, std::string& path,
                            bool& is_new) {
    std::error_code ignored;
    for (int n = 1; n <= kFileNameAlternatives; ++n) {
        const std::string name = "summary" + (n == 1 ? "" : "-" + std::to_string(n)) + ".csv";
        path = Join_Path(directory.Path(), name);
        if (std::FILE* file = directory.Open_Own_File_To_Append(name)) {
            const std::string first = First_Line(file);
            if (first == kSummaryCsvHeader || first.empty()) {
                is_new = first.empty();
                return file;
            }
            std::fclose(file);  // another program's columns: left as it is
            continue;
        }
        if (std::FILE* file = directory.Create_New_File(name)) {
            is_new = true;
            return file;
        }
        if (!std::filesystem::exists(std::filesystem::symlink_status(path, ignored)))
            break;
    }
    path.clear();
    return nullptr;
}

// How a phone ended, as the files name it: a port where no boot loader
// answered had no phone to fail.
std::string Result_Name(const Station_Phone_Result& row) {
    return row.no_phone ? "no_phone" : Station_Outcome_Name(row.outcome);
}

}  // namespace

const char* const kSummaryCsvHeader =
    "arrived_utc,ended_utc,slot,phone,port,usb_path,usb_id,serial,version_before,version_after,"
    "result,"
    "code,advice,bytes,seconds,dump_file,log_file";

std::string Version_After(const Station_Phone_Result& row, const Station_Records& records) {
    if (row.outcome == Download_Outcome::kUpdated)
        return records.image_version;
    return row.phone_touched ? std::string() : row.phone_version;
}

bool Write_Summary_Csv(platform::Private_Directory& directory, const Station_Summary& summary,
                       const Station_Records& records, std::string& csv_path) {
    bool is_new = false;
    std::FILE* file = Summary_Csv_File(directory, csv_path, is_new);
    if (file == nullptr)
        return false;
    std::string text = is_new ? std::string(kSummaryCsvHeader) + "\n" : std::string();
    for (const Station_Phone_Result& row : summary.phones) {
        const Row_Texts t = Texts_Of(row, records);
        const std::string fields[] = {Utc_Text(row.arrived),
                                      Utc_Text(row.ended),
                                      Csv_Field(text::Displayable_Text(row.slot)),
                                      std::to_string(row.phone),
                                      Csv_Field(t.port),
                                      Csv_Field(t.usb_path),
                                      Csv_Field(t.usb_id),
                                      Csv_Field(t.serial),
                                      Csv_Field(t.version_before),
                                      Csv_Field(t.version_after),
                                      Result_Name(row),
                                      std::to_string(row.code),
                                      Csv_Field(t.advice),
                                      std::to_string(row.bytes),
                                      Seconds_Text(row.seconds),
                                      Csv_Field(t.dump),
                                      Csv_Field(t.log)};
        for (const std::string& field : fields)
            text += (&field == fields ? "" : ",") + field;
        text += "\n";
    }
    return Write_All(file, text);
}

std::string Json_Phone_Result(const Station_Phone_Result& row, Json_Result_Form form,
                              const Station_Records& records) {
    const bool file = form == Json_Result_Form::kFile;
    const auto shown = [file](const std::string& text) {
        return file ? text::Displayable_Text(text) : text;
    };
    Json_Object object;
    object.Number("phone", row.phone).Text("port", shown(row.port.display_name));
    const Advice advice = Advice_For(Ending_Of(row));
    if (file) {
        const Row_Texts t = Texts_Of(row, records);
        object.Text("usb_path", t.usb_path)
            .Text("usb_id", t.usb_id)
            .Text("serial", t.serial)
            .Text("arrived_utc", Utc_Text(row.arrived))
            .Text("ended_utc", Utc_Text(row.ended))
            .Text("version_before", t.version_before)
            .Text("version_after", t.version_after);
    }
    return object.Text("result", Result_Name(row))
        .Number("code", row.code)
        .Text("advice_id", Advice_Name(advice))
        .Text("advice", Advice_Words(advice).For(records.language))
        .Unsigned("bytes", row.bytes)
        .Seconds("seconds", row.seconds)
        .Text("dump_file", shown(row.dump_file))
        .Text("log_file", shown(row.log_file))
        .Text("slot", shown(row.slot))
        .Done();
}

bool Write_Summary_Json(platform::Private_Directory& directory, const Station_Summary& summary,
                        const Station_Records& records, std::string& json_path) {
    std::FILE* file = Create_Station_File(directory, "summary", ".json", json_path);
    if (file == nullptr)
        return false;
    std::string phones = "[";
    for (const Station_Phone_Result& row : summary.phones) {
        phones += phones.size() == 1 ? "\n" : ",\n";
        phones += Json_Phone_Result(row, Json_Result_Form::kFile, records);
    }
    phones += "\n]";
    const std::string text = Json_Object()
                                 .Number("v", 1)
                                 .Number("updated", summary.updated)
                                 .Number("failed", summary.failed)
                                 .Number("stopped_phones", summary.stopped_phones)
                                 .Number("no_phone", summary.no_phone)
                                 .Boolean("stopped", summary.stopped)
                                 .Raw("unwritten", Json_String_Array(summary.unwritten))
                                 .Raw("phones", phones)
                                 .Done() +
                             "\n";
    return Write_All(file, text);
}

Station_Files::Station_Files(std::shared_ptr<platform::Private_Directory> directory,
                             std::string path, Station_Records records)
    : m_directory(std::move(directory)), m_path(std::move(path)), m_records(std::move(records)) {}

Station_Files::~Station_Files() = default;

void Station_Files::On_Station_Event(const Station_Event& event) {
    switch (event.kind) {
        case Station_Event::Kind::kArrived: {
            if (!m_directory)
                return;
            auto log =
                std::make_unique<Phone_Log>(*m_directory, event.phone, event.port, event.slot);
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_log_paths[event.phone] = log->Path();
            m_logs[event.phone] = std::move(log);
            return;
        }
        case Station_Event::Kind::kLine: {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (const auto log = m_logs.find(event.phone); log != m_logs.end())
                log->second->Line(event.text);
            return;
        }
        case Station_Event::Kind::kFinished:
            Finished(event);
            return;
        case Station_Event::Kind::kEnded:
            Ended(event);
            return;
        default:
            return;
    }
}

void Station_Files::Finished(const Station_Event& event) {
    Station_Phone_Result result = Result_Of(event);
    const std::lock_guard<std::mutex> lock(m_mutex);
    result.log_file = m_log_paths[event.phone];
    if (const auto log = m_logs.find(event.phone); log != m_logs.end()) {
        log->second->Result(result, m_records.language);
        if (!log->second->Complete())
            m_unwritten.push_back(result.log_file.empty() ? m_directory->Path() : result.log_file);
        m_logs.erase(log);
    }
    m_results.push_back(std::move(result));
}

void Station_Files::Ended(const Station_Event& event) {
    Station_Summary summary;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        summary.phones = m_results;
        summary.unwritten = m_unwritten;  // the logs: the summary file names them
    }
    std::sort(summary.phones.begin(), summary.phones.end(),
              [](const auto& a, const auto& b) { return a.phone < b.phone; });
    Count_Results_Into(summary);
    summary.stopped = event.stopped;
    std::vector<std::string> files;
    std::vector<std::string> not_written;
    if (m_directory) {
        std::string csv_path;
        std::string json_path;
        const bool csv = Write_Summary_Csv(*m_directory, summary, m_records, csv_path);
        const bool json = Write_Summary_Json(*m_directory, summary, m_records, json_path);
        for (const auto& [done, path] : {std::pair{csv, csv_path}, std::pair{json, json_path}}) {
            if (!path.empty())
                files.push_back(path);
            if (!done)
                not_written.push_back(path.empty() ? m_directory->Path() : path);
        }
    } else {
        not_written.push_back(m_path);  // it could not be opened
    }
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_summary_files = files;
    m_unwritten.insert(m_unwritten.end(), not_written.begin(), not_written.end());
}

std::string Station_Files::Log_Path(int phone) const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    const auto path = m_log_paths.find(phone);
    return path == m_log_paths.end() ? std::string() : path->second;
}

void Station_Files::Fill(Station_Summary& summary) const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    for (Station_Phone_Result& phone : summary.phones) {
        if (const auto path = m_log_paths.find(phone.phone); path != m_log_paths.end())
            phone.log_file = path->second;
    }
    summary.summary_files = m_summary_files;
    summary.unwritten = m_unwritten;
}
