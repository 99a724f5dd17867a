// What feeds the journal: a station's events (Station_Journal, one record
// per arriving phone) and one flash's report (Update_Journal). Both only
// fill records and hand them to the writer: no file is touched on a phone's
// thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "bootloader/update_report.h"
#include "download/update_outcome.h"
#include "journal/journal_record.h"
#include "journal/journal_writer.h"
#include "station/station.h"
#include "station/station_files.h"

// What every record of one run shares.
struct Journal_Context {
    std::string machine{};  // the host's name
    std::string station{};  // empty: the host's name
    std::string operator_name{};
    std::string program_version{};
    std::string image_path{};
    std::int64_t image_size = 0;
    std::string image_sha256{};
    std::string image_version{};  // as the version field shows it
    std::string trace_file{};
};

// The context's image fields from the file at path (size and digest), the
// host's name, the program's version.
Journal_Context Journal_Context_For(const std::string& image_path,
                                    const std::string& program_version);
// A record begun now from the context, owned by this process.
Journal_Record Begin_Record(const Journal_Context& context);
// "read_version", "download_regions", ...: where an update failed; empty for none.
const char* Failed_Step_Name(Download_Step step);

class Station_Journal final : public Station_Observer {
  public:
    // files: the station's log folder's files, added before this observer so
    // that a phone's log is named when it ends; may be null.
    Station_Journal(Journal_Writer& writer, Journal_Context context,
                    const Station_Files* files = nullptr);
    void On_Station_Event(const Station_Event& event) override;

  private:
    Journal_Writer& m_writer;
    const Journal_Context m_context;
    const Station_Files* m_files;
    std::mutex m_mutex;
    std::map<int, Journal_Record> m_open;  // phones whose session runs
};

// One flash: the record is begun when the update begins and ended by the
// front end once the command has returned (End), with what only the command
// knows.
class Update_Journal final : public report::Update_Observer {
  public:
    // What only the command knows once it has ended: how it failed (for the
    // outcome) and the dump it kept.
    struct Command_Ending {
        std::function<Phone_Ending(Download_Outcome outcome)> ending;
        std::function<std::string()> dump_file;
    };
    // command_ending given: the record is ended by the update's own last
    // event (a window, where no front end waits for the command), reading
    // the command on the update's thread; else the front end calls End.
    Update_Journal(Journal_Writer& writer, Journal_Context context,
                   Command_Ending command_ending = {});
    void On_Event(const report::Update_Event& event) override;
    void On_Bytes(std::uint64_t done, std::uint64_t total) override;
    void End(Download_Outcome outcome, const Phone_Ending& ending, const std::string& dump_file);

  private:
    void End_Locked(Download_Outcome outcome, const Phone_Ending& ending,
                    const std::string& dump_file);
    const Command_Ending m_command_ending;
    Journal_Writer& m_writer;
    const Journal_Context m_context;
    std::mutex m_mutex;
    Journal_Record m_record;
    bool m_started = false;
    std::chrono::steady_clock::time_point m_began{};
    std::atomic<std::uint64_t> m_bytes{0};
};
