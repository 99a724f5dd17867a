// What a station leaves in its log directory: one log per phone (its lines
// with their times, the port and what the system says of its device, the
// phone's old version, how it ended) and, when the station ends, a summary
// of every phone as CSV and as JSON.
//
// Every file is new: created for this user alone (0600 where the system has
// modes), never through a link, never over a file that is there already. A
// name that is taken is followed by "-2", "-3", ... before the extension.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "station/station.h"

// A name made of the port for a file name: its last path part ("ttyACM0",
// "COM5"), with every character but letters, digits, '.', '-' and '_' as '_',
// and no longer than a file name needs to be.
std::string Port_File_Part(const std::string& display_name);

// Creates a new file in directory named stem + extension, or the first free
// numbered alternative. Null (and path empty) when none could be made.
std::FILE* Create_Station_File(const std::string& directory, const std::string& stem,
                               const std::string& extension, std::string& path);

class Phone_Log {
  public:
    // Opens "phone-003-ttyACM0.log" in directory and writes the phone's
    // header. A log that cannot be made leaves Path() empty; the station goes
    // on without it.
    Phone_Log(const std::string& directory, int phone, const Port_Candidate& port);
    ~Phone_Log();
    Phone_Log(const Phone_Log&) = delete;
    Phone_Log& operator=(const Phone_Log&) = delete;

    const std::string& Path() const { return m_path; }
    void Line(std::string_view text);
    // The last lines: the phone's old version and how the session ended.
    void Result(const Station_Phone_Result& result, const std::string& phone_version);

  private:
    void Write(std::string_view text);
    std::FILE* m_file = nullptr;
    std::string m_path;
};

// The summary's rows and totals; false when a file could not be written.
// The paths written are returned in csv_path and json_path.
bool Write_Summary_Csv(const std::string& directory, const Station_Summary& summary,
                       std::string& csv_path);
bool Write_Summary_Json(const std::string& directory, const Station_Summary& summary,
                        std::string& json_path);

// A text as a JSON string, quotes included; the text is valid UTF-8 already.
std::string Json_String(std::string_view text);
// A CSV field: quoted when it holds a comma, a quote or begins with a
// character a spreadsheet takes for a formula.
std::string Csv_Field(std::string_view text);
