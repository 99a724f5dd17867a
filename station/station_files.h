// What a station leaves in its log directory: one log per phone (its lines
// with their times, the port and what the system says of its device, the
// phone's old version, how it ended) and, when the station ends, a summary
// of every phone as CSV and as JSON.
//
// The directory is held from its check to the last file (platform's
// Private_Directory: by its descriptor where the system has one), so that a
// directory swapped for a link meanwhile is never written in. Every file is
// new: created for this user alone (0600 where the system has modes), never
// through a link, never over a file that is there already. A name that is
// taken is followed by "-2", "-3", ... before the extension, and the name
// taken is the one every record names. The CSV summary is the exception: it
// grows across runs (its header once), so a shop keeps one record of every
// phone; it is only ever added to when it is this user's own file with the
// same columns, else the next numbered name is used. A file that could not
// be written whole (a full disk) is said: each writer tells whether it was.
#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/private_directory.h"
#include "station/json_text.h"
#include "station/station.h"

// A name made of the port for a file name: its last path part ("ttyACM0",
// "COM5"), with every character but letters, digits, '.', '-' and '_' as '_',
// and no longer than a file name needs to be.
std::string Port_File_Part(const std::string& display_name);

// Creates a new file in directory named stem + extension, or the first free
// numbered alternative. Null (and path empty) when none could be made.
std::FILE* Create_Station_File(platform::Private_Directory& directory, const std::string& stem,
                               const std::string& extension, std::string& path);

// The log directory at path (relative to the working directory, made with
// its parents when missing), checked and held: null when it is refused, as
// one in a parent that others may change, or another user's.
std::shared_ptr<platform::Private_Directory> Open_Log_Directory(const std::string& path);

// Whether a file can be made and written in directory: one is, and deleted.
bool Try_Write(platform::Private_Directory& directory);

class Phone_Log {
  public:
    // Opens "phone-003-ttyACM0.log" in directory and writes the phone's
    // header. A log that cannot be made leaves Path() empty; the station goes
    // on without it.
    // slot: the socket's label, where the slots file names one.
    Phone_Log(platform::Private_Directory& directory, int phone, const Port_Candidate& port,
              const std::string& slot = {});
    ~Phone_Log();
    Phone_Log(const Phone_Log&) = delete;
    Phone_Log& operator=(const Phone_Log&) = delete;

    const std::string& Path() const { return m_path; }
    // Whether every line so far reached the file.
    bool Complete() const { return m_file != nullptr && !m_failed; }
    void Line(std::string_view text);
    // The last lines: the phone's old version, how the session ended and
    // what to do with the phone, in that language.
    void Result(const Station_Phone_Result& result, Language language);

  private:
    void Write(std::string_view text);
    std::FILE* m_file = nullptr;
    std::string m_path;
    bool m_failed = false;
};

// What the station's records say beside the phones' results.
struct Station_Records {
    Language language = Language::kChinese;  // of the advice
    std::string image_version{};             // the version a phone has once updated
};

// The summary's rows and totals; false when a file could not be written.
// The paths written are returned in csv_path and json_path.
bool Write_Summary_Csv(platform::Private_Directory& directory, const Station_Summary& summary,
                       const Station_Records& records, std::string& csv_path);
bool Write_Summary_Json(platform::Private_Directory& directory, const Station_Summary& summary,
                        const Station_Records& records, std::string& json_path);
// The summary CSV's first line.
extern const char* const kSummaryCsvHeader;
// A phone's result as a JSON object: kFile, a row of the summary file (its
// texts escaped, with the device's numbers); kLine, one of the command's
// summary line (texts as they are: the JSON writer escapes them).
enum class Json_Result_Form { kFile, kLine };
std::string Json_Phone_Result(const Station_Phone_Result& row, Json_Result_Form form,
                              const Station_Records& records);
// The phone's version after the session: the image's once updated, its own
// while it was not touched, none when it was left half rewritten.
std::string Version_After(const Station_Phone_Result& row, const Station_Records& records);

// The files of a log directory, as an observer of a station: a log per
// phone from its arrival to its end, and the summary once the station has
// ended. Events come on the station's thread; Log_Path and Fill may be
// called from any thread.
class Station_Files final : public Station_Observer {
  public:
    // directory: checked and held (Open_Log_Directory); null: it could not
    // be opened, and every record is said to be unwritten (named by path).
    Station_Files(std::shared_ptr<platform::Private_Directory> directory, std::string path,
                  Station_Records records = {});
    ~Station_Files() override;
    Station_Files(const Station_Files&) = delete;
    Station_Files& operator=(const Station_Files&) = delete;

    void On_Station_Event(const Station_Event& event) override;
    // The log of that phone; empty: none could be made.
    std::string Log_Path(int phone) const;
    // Into a station's summary: each phone's log, the summary files written
    // and the records not written whole.
    void Fill(Station_Summary& summary) const;

  private:
    void Finished(const Station_Event& event);
    void Ended(const Station_Event& event);

    const std::shared_ptr<platform::Private_Directory> m_directory;
    const std::string m_path;
    const Station_Records m_records;
    mutable std::mutex m_mutex;
    std::map<int, std::unique_ptr<Phone_Log>> m_logs;  // open until the phone's end
    std::map<int, std::string> m_log_paths;
    std::vector<Station_Phone_Result> m_results;  // in the order they ended
    std::vector<std::string> m_summary_files;
    std::vector<std::string> m_unwritten;
};

// A CSV field: quoted when it holds a comma, a quote or begins with a
// character a spreadsheet takes for a formula.
std::string Csv_Field(std::string_view text);
