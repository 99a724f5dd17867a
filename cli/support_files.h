// Which files of a station's log and trace folders belong to one phone:
// those named "phone-NNN-PORT" (every run numbers its phones from 1, so a
// number can name several), and which phone failed last.
#pragma once

#include <string>
#include <vector>

namespace cli {

// "phone-007-" for 7.
std::string Phone_File_Prefix(int phone);
// The paths in directory whose names begin with the phone's prefix and end
// with extension, sorted; none when the folder cannot be read.
std::vector<std::string> Phone_Files(const std::string& directory, int phone,
                                     const std::string& extension);
// The newest phone that ended without the update: the last such row of the
// folder's summary.csv, else the phone of its newest log. 0: none.
int Last_Failing_Phone(const std::string& log_directory);
// The fields of one CSV line (quoted fields with doubled quotes taken apart).
std::vector<std::string> Csv_Fields(const std::string& line);

}  // namespace cli
