// The station's and the flash's records, filled from their reports.
#include "journal/journal_observers.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "bootloader/phone_model.h"
#include "download/message_output.h"
#include "journal/sha256.h"
#include "platform/files.h"
#include "platform/shared_file.h"
#include "station/station_advice.h"
#include "station/utc_text.h"

namespace {

std::string Bytes_Text(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// The record's result word: the station's files' own.
std::string Result_Word(Download_Outcome outcome, bool no_phone) {
    return no_phone ? "no_phone" : Station_Outcome_Name(outcome);
}

}  // namespace

namespace {

// Twice what both flash regions may hold together (4096 of the phone's flash
// blocks), room enough for any header.
constexpr std::int64_t kMaxDigestBytes =
    2 * 4096 * static_cast<std::int64_t>(kPhoneModel.block_size);

}  // namespace

Journal_Context Journal_Context_For(const std::string& image_path,
                                    const std::string& program_version) {
    Journal_Context context;
    context.machine = platform::Host_Name();
    context.program_version = program_version;
    context.image_path = image_path;
    if (File_Handle file = platform::Open_Regular_File(image_path))
        context.image_size = platform::File_Size(file.get());
    // Only a file that may be an image the loader takes: one that claims
    // more (a sparse file of a gigabyte) is refused by the loader anyway, and
    // reading it through would hold up that refusal for seconds.
    if (context.image_size <= kMaxDigestBytes)
        context.image_sha256 = Sha256_Of_File(image_path);
    return context;
}

Journal_Record Begin_Record(const Journal_Context& context) {
    Journal_Record record;
    record.id = New_Session_Id();
    record.started = Utc_Text(std::chrono::system_clock::now());
    record.machine = context.machine;
    record.station = context.station.empty() ? context.machine : context.station;
    record.operator_name = context.operator_name;
    record.program_version = context.program_version;
    record.image_path = context.image_path;
    record.image_size = context.image_size;
    record.image_sha256 = context.image_sha256;
    record.image_version = context.image_version;
    record.trace_file = context.trace_file;
    record.pid = platform::Process_Id();
    record.host = platform::Host_Name();
    record.process_start = platform::Process_Start_Token(record.pid);
    return record;
}

const char* Failed_Step_Name(Download_Step step) {
    switch (step) {
        case Download_Step::kNone:
            return "";
        case Download_Step::kImage:
            return "image";
        case Download_Step::kSearch:
            return "search";
        case Download_Step::kReadVersion:
            return "read_version";
        case Download_Step::kCompare:
            return "compare";
        case Download_Step::kWriteVersion:
            return "write_version";
        case Download_Step::kSetRegions:
            return "set_regions";
        case Download_Step::kDownloadRegions:
            return "download_regions";
    }
    return "";
}

Station_Journal::Station_Journal(Journal_Writer& writer, Journal_Context context,
                                 const Station_Files* files)
    : m_writer(writer), m_context(std::move(context)), m_files(files) {}

void Station_Journal::On_Station_Event(const Station_Event& event) {
    using Kind = Station_Event::Kind;
    if (event.kind == Kind::kArrived) {
        Journal_Record record = Begin_Record(m_context);
        if (event.time != std::chrono::system_clock::time_point{})
            record.started = Utc_Text(event.time);
        record.port = event.port.display_name;
        const Port_Identity& identity = event.port.identity;
        if (identity.Is_Usb())
            record.usb_id = identity.usb_vendor_id + ":" + identity.usb_product_id;
        record.usb_serial = identity.usb_serial;
        record.usb_path = identity.usb_path;
        record.slot = event.slot;
        m_writer.Start(record);
        const std::lock_guard lock(m_mutex);
        m_open[event.phone] = std::move(record);
        return;
    }
    if (event.kind != Kind::kFinished)
        return;
    Journal_Record record;
    {
        const std::lock_guard lock(m_mutex);
        const auto open = m_open.find(event.phone);
        if (open == m_open.end())
            return;
        record = std::move(open->second);
        m_open.erase(open);
    }
    record.ended = Utc_Text(event.time != std::chrono::system_clock::time_point{}
                                ? event.time
                                : std::chrono::system_clock::now());
    record.result = Result_Word(event.outcome, event.no_phone);
    record.failed_step = Failed_Step_Name(event.failure.step);
    record.code = event.code;
    record.advice = Advice_Name(Advice_For(Ending_Of(event)));
    record.bytes = event.bytes_done;
    record.seconds = event.seconds;
    record.dump_file = event.dump_file;
    record.log_file = m_files != nullptr ? m_files->Log_Path(event.phone) : event.log_file;
    record.version_before_hex = Hex_Of(Bytes_Text(event.phone_record));
    record.version_before = event.phone_version;
    if (!event.record_written.empty()) {
        record.version_after_hex = Hex_Of(Bytes_Text(event.record_written));
        record.version_after = Version_Field_Text(event.record_written);
    } else if (!event.phone_touched) {
        // Never touched: it keeps what it had.
        record.version_after_hex = record.version_before_hex;
        record.version_after = record.version_before;
    }
    m_writer.End(std::move(record));
}

Update_Journal::Update_Journal(Journal_Writer& writer, Journal_Context context,
                               Command_Ending command_ending)
    : m_command_ending(std::move(command_ending)),
      m_writer(writer),
      m_context(std::move(context)) {}

void Update_Journal::On_Event(const report::Update_Event& event) {
    using Kind = report::Update_Event::Kind;
    const std::lock_guard lock(m_mutex);
    switch (event.kind) {
        case Kind::kStepBegan:
            if (event.step == report::Step::kUpdate && !m_started) {
                m_started = true;
                m_began = std::chrono::steady_clock::now();
                m_record = Begin_Record(m_context);
                m_writer.Start(m_record);
            }
            return;
        case Kind::kStepEnded:
            if (event.step == report::Step::kUpdate && m_command_ending.ending)
                End_Locked(event.outcome, m_command_ending.ending(event.outcome),
                           m_command_ending.dump_file ? m_command_ending.dump_file() : "");
            return;
        case Kind::kNotice:
            if (event.notice.id == report::Notice::kFoundPort && !event.notice.texts.empty())
                m_record.port = event.notice.texts.front();
            return;
        case Kind::kImageVersion:
            m_record.image_version = Version_Field_Text(event.bytes);
            return;
        case Kind::kPhoneVersion:
        case Kind::kPhoneVersionFromDump:
            m_record.version_before_hex = Hex_Of(Bytes_Text(event.bytes));
            m_record.version_before = Version_Field_Text(event.bytes);
            return;
        case Kind::kRecordWritten:
            m_record.version_after_hex = Hex_Of(Bytes_Text(event.bytes));
            m_record.version_after = Version_Field_Text(event.bytes);
            return;
        default:
            return;
    }
}

void Update_Journal::On_Bytes(std::uint64_t done, std::uint64_t) {
    // Called per block on the update's thread: kept without a lock taken
    // by anyone else while a transfer runs.
    m_bytes.store(done, std::memory_order_relaxed);
}

void Update_Journal::End(Download_Outcome outcome, const Phone_Ending& ending,
                         const std::string& dump_file) {
    const std::lock_guard lock(m_mutex);
    End_Locked(outcome, ending, dump_file);
}

void Update_Journal::End_Locked(Download_Outcome outcome, const Phone_Ending& ending,
                                const std::string& dump_file) {
    if (!m_started)
        return;
    m_record.ended = Utc_Text(std::chrono::system_clock::now());
    m_record.result = Result_Word(outcome, false);
    m_record.failed_step = Failed_Step_Name(ending.failure.step);
    m_record.code = outcome == Download_Outcome::kUpdated   ? 0
                    : outcome == Download_Outcome::kStopped ? kStoppedCode
                                                            : ending.failure.code;
    m_record.advice = Advice_Name(Advice_For(ending));
    m_record.bytes = m_bytes.load(std::memory_order_relaxed);
    m_record.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_began).count();
    std::error_code error;
    if (!dump_file.empty() && std::filesystem::exists(dump_file, error))
        m_record.dump_file = dump_file;  // else deleted once the phone held the new record
    if (m_record.version_after_hex.empty() && !ending.phone_touched) {
        m_record.version_after_hex = m_record.version_before_hex;
        m_record.version_after = m_record.version_before;
    }
    m_writer.End(m_record);
    m_started = false;
    m_record = {};
}
